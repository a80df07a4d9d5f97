#include "gui/common/FormLook.h"

#include "core/config/AppSettings.h"
#include "core/config/RegistryIni.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFontDatabase>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QToolBar>
#include <QToolTip>
#include <QWidget>

namespace {

const QString kLastUsed = QStringLiteral("LastUsed");

// Swallows tooltip events while hints are off and shows them for the configured time otherwise.
class HintFilter : public QObject
{
public:
    bool showsHints() const { return m_show; }
    void setShowHints(bool show) { m_show = show; }
    void setHidePause(int milliseconds) { m_hidePause = milliseconds; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::ToolTip)
            return false;
        if (!m_show)
            return true;
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || widget->toolTip().isEmpty() || m_hidePause <= 0)
            return false;
        const auto* help = static_cast<QHelpEvent*>(event);
        QToolTip::showText(help->globalPos(), widget->toolTip(), widget, QRect(), m_hidePause);
        return true;
    }

private:
    bool m_show = true;
    int m_hidePause = 5000;
};

HintFilter* hintFilter()
{
    static HintFilter* filter = nullptr;
    if (!filter && qApp) {
        filter = new HintFilter;
        filter->setParent(qApp);
        qApp->installEventFilter(filter);
    }
    return filter;
}

} // namespace

void setShowHints(bool show)
{
    if (HintFilter* f = hintFilter())
        f->setShowHints(show);
}

void setHintHidePause(int milliseconds)
{
    if (HintFilter* f = hintFilter())
        f->setHidePause(milliseconds);
}

bool showHints()
{
    const HintFilter* f = hintFilter();
    return !f || f->showsHints();
}

void applySystemFont(QFont& font, SystemFontKind kind, const AppSettings& settings)
{
    if (!settings.systemFont)
        return;
    switch (kind) {
    case SystemFontKind::Message:
        font = QApplication::font("QMessageBox");
        break;
    case SystemFontKind::Menu:
        font = QApplication::font("QMenu");
        break;
    case SystemFontKind::SmallCaption:
        font = QFontDatabase::systemFont(QFontDatabase::SmallestReadableFont);
        break;
    case SystemFontKind::Status:
        font = QApplication::font("QStatusBar");
        break;
    }
}

void applyFormLook(QWidget* form, const AppSettings& settings)
{
    if (settings.systemFont) {
        QFont font = form->font();
        applySystemFont(font, SystemFontKind::Message, settings);
        form->setFont(font);
    }
    hintFilter(); // tooltips of this window now follow the application's switch
}

void restoreWindowSize(QWidget* form)
{
    const std::unique_ptr<RegistryIni> ini = openSettings();
    const QString name = form->objectName();
    const int width = ini->readInteger(kLastUsed, name + QStringLiteral(".Width"), form->width())
                          .value_or(form->width());
    const int height = ini->readInteger(kLastUsed, name + QStringLiteral(".Height"), form->height())
                           .value_or(form->height());
    form->resize(width, height);
}

void saveWindowSize(const QWidget* form)
{
    const std::unique_ptr<RegistryIni> ini = openSettings();
    const QString name = form->objectName();
    if (ini->writeInteger(kLastUsed, name + QStringLiteral(".Width"), form->width()))
        ini->writeInteger(kLastUsed, name + QStringLiteral(".Height"), form->height());
}

void bindButton(QAbstractButton* button, QAction* action)
{
    const auto sync = [button, action] {
        button->setText(action->text());
        button->setToolTip(action->toolTip());
        button->setEnabled(action->isEnabled());
    };
    sync();
    QObject::connect(action, &QAction::changed, button, sync);
    QObject::connect(button, &QAbstractButton::clicked, action, &QAction::trigger);
}

QAction* addWindowAction(QWidget* window, const QString& name, const QString& caption,
                         const QString& hint, const QKeySequence& key)
{
    auto* action = new QAction(caption, window);
    // A toolbar button shows the caption as given; by default it would drop a trailing "...".
    action->setIconText(caption);
    action->setObjectName(name);
    action->setToolTip(hint);
    if (!key.isEmpty())
        action->setShortcut(key);
    window->addAction(action);
    return action;
}

bool isContextMenuKey(const QKeyEvent* key)
{
    return key->key() == Qt::Key_Menu ||
           (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier);
}

void popUpOnce(QMenu* menu, const QPoint& globalPos)
{
    if (!menu->isVisible())
        menu->popup(globalPos);
}

void letTabReachToolBar(QToolBar* bar)
{
    for (QAction* a : bar->actions())
        if (QWidget* button = bar->widgetForAction(a))
            button->setFocusPolicy(Qt::TabFocus);
}
