// Checks of a shown window that a keyboard user and a large font bring out. Each answers with
// readable lines of what is wrong, none when all is well.
#pragma once

#include <QAbstractScrollArea>
#include <QCheckBox>
#include <QGroupBox>
#include <QHash>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QStyle>
#include <QToolButton>

namespace windowchecks {

// The widgets of `window` itself (not of its dialogs and menus) that are shown.
inline QList<QWidget*> shownWidgets(QWidget* window)
{
    QList<QWidget*> shown;
    const QList<QWidget*> all = window->findChildren<QWidget*>();
    for (QWidget* widget : all)
        if (widget->window() == window && widget->isVisibleTo(window))
            shown << widget;
    return shown;
}

// A caption's access key ("Alt+Š" for "Na &šířku"); empty when it has none.
inline QString accessKey(const QString& caption)
{
    return QKeySequence::mnemonic(caption).toString();
}

// Access keys used twice: among the buttons, labels (that lead to a field) and group boxes shown
// in `window`, and among the entries of each of its menus.
inline QStringList duplicateAccessKeys(QWidget* window)
{
    QStringList found;
    const auto collect = [&found](const QString& where, const QStringList& captions) {
        QHash<QString, QString> seen;
        for (const QString& caption : captions) {
            const QString key = accessKey(caption);
            if (key.isEmpty())
                continue;
            if (seen.contains(key))
                found << QStringLiteral("%1: %2 in \"%3\" and \"%4\"")
                             .arg(where, key, seen.value(key), caption);
            seen.insert(key, caption);
        }
    };
    QStringList captions;
    for (QWidget* widget : shownWidgets(window)) {
        if (const auto* button = qobject_cast<QAbstractButton*>(widget))
            captions << button->text();
        else if (const auto* label = qobject_cast<QLabel*>(widget); label && label->buddy())
            captions << label->text();
        else if (const auto* group = qobject_cast<QGroupBox*>(widget))
            captions << group->title();
    }
    collect(window->objectName(), captions);
    for (const QMenu* menu : window->findChildren<QMenu*>()) {
        QStringList entries;
        for (const QAction* action : menu->actions())
            if (action->isVisible() && !action->isSeparator())
                entries << action->text();
        collect(menu->objectName(), entries);
    }
    return found;
}

// Captioned buttons, check boxes, radio buttons, labels and group boxes shown in `window` that
// are narrower than their caption with the style's margins, or that reach out of the window or
// of the widget they lie in. What a scroll area shows may lie beyond its edges.
inline QStringList cutOrOutside(QWidget* window)
{
    QStringList found;
    const QRect windowRect = window->rect();
    for (QWidget* widget : shownWidgets(window)) {
        QString caption;
        int extra = 0;
        const QStyle* style = widget->style();
        if (const auto* push = qobject_cast<QPushButton*>(widget)) {
            caption = push->text();
            extra = style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, widget);
            if (push->menu())
                extra += style->pixelMetric(QStyle::PM_MenuButtonIndicator, nullptr, widget);
        } else if (const auto* tool = qobject_cast<QToolButton*>(widget)) {
            caption = tool->text();
            extra = style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, widget);
        } else if (const auto* check = qobject_cast<QCheckBox*>(widget)) {
            caption = check->text();
            extra = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, widget) +
                    style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, widget);
        } else if (const auto* radio = qobject_cast<QRadioButton*>(widget)) {
            caption = radio->text();
            extra = style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, widget) +
                    style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, widget);
        } else if (const auto* label = qobject_cast<QLabel*>(widget); label && !label->wordWrap()) {
            caption = label->text();
        } else if (const auto* group = qobject_cast<QGroupBox*>(widget)) {
            caption = group->title();
        }
        if (caption.isEmpty())
            continue;
        bool inScrollArea = false;
        for (QWidget* p = widget->parentWidget(); p && p != window; p = p->parentWidget())
            inScrollArea = inScrollArea || qobject_cast<QAbstractScrollArea*>(p);
        if (inScrollArea)
            continue;
        const int needed =
            widget->fontMetrics().size(Qt::TextShowMnemonic, caption).width() + extra;
        if (widget->width() < needed)
            found << QStringLiteral("\"%1\" is %2 wide, needs %3")
                         .arg(caption)
                         .arg(widget->width())
                         .arg(needed);
        const QRect inWindow(widget->mapTo(window, QPoint(0, 0)), widget->size());
        const QWidget* parent = widget->parentWidget();
        const QRect inParent(parent->mapTo(window, QPoint(0, 0)), parent->size());
        if (!windowRect.contains(inWindow) || !inParent.contains(inWindow))
            found << QStringLiteral("\"%1\" at %2,%3 %4×%5 is not inside the window (%6×%7)")
                         .arg(caption)
                         .arg(inWindow.x())
                         .arg(inWindow.y())
                         .arg(inWindow.width())
                         .arg(inWindow.height())
                         .arg(windowRect.width())
                         .arg(windowRect.height());
    }
    return found;
}

} // namespace windowchecks
