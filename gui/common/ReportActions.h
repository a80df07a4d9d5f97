#pragma once

#include "gui/common/Events.h"

#include <QString>

class JobState;
struct ReportHeader;

// How a deletion ended: the file went to the trash, the user said no, or the move failed (no
// report, no such file, no trash).
enum class DeleteResult
{
    Deleted,
    Declined,
    Failed
};

// Asks the user and moves the report's file to the trash. On success every top-level window
// gets an events::ReportDeletedEvent with the report (identity only) and the origin, posted.
DeleteResult deleteReport(const ReportHeader* report, events::DeleteOrigin origin);

// Appends an archived report (one in a BAKPRN directory) to the re-print queue and tells the
// user how that went.
void requeueReport(const ReportHeader* report, JobState& state);
