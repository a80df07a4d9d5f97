// Checks of a shown window that a keyboard user and a large font bring out. Each answers with
// readable lines of what is wrong, none when all is well.
#pragma once

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMultiMap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSet>
#include <QStringList>
#include <QStyle>
#include <QTabBar>
#include <QTest>
#include <QToolBar>
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

inline QString nameOf(const QWidget* widget)
{
    const QString name = widget->objectName().isEmpty()
                             ? QString::fromLatin1(widget->metaObject()->className())
                             : widget->objectName();
    return QStringLiteral("%1 in %2").arg(name, widget->window()->objectName());
}

// A caption's access key ("Alt+Š" for "Na &šířku"); empty when it has none.
inline QString accessKey(const QString& caption)
{
    return QKeySequence::mnemonic(caption).toString();
}

// Captions among `captions` that share an access key, which then reaches only one of them.
inline QStringList sharedKeys(const QString& where, const QStringList& captions)
{
    QMultiMap<QString, QString> owners;
    for (const QString& caption : captions)
        if (const QString key = accessKey(caption); !key.isEmpty())
            owners.insert(key, caption);
    QStringList found;
    for (const QString& key : owners.uniqueKeys())
        if (owners.count(key) > 1)
            found << QStringLiteral("%1: %2 in \"%3\"")
                         .arg(where, key, QStringList(owners.values(key)).join(u"\", \""));
    return found;
}

// Access keys used twice among the entries of a menu.
inline QStringList duplicateMenuKeys(const QString& where, const QMenu* menu)
{
    QStringList entries;
    for (const QAction* action : menu->actions())
        if (action->isVisible() && !action->isSeparator())
            entries << action->text();
    return sharedKeys(QStringLiteral("%1, menu %2").arg(where, menu->objectName()), entries);
}

// Access keys used twice: among the buttons, labels (that lead to a field), group boxes, tabs
// and menu bar entries shown in `window`, and among the entries of each of its menus.
inline QStringList duplicateAccessKeys(QWidget* window)
{
    QStringList captions;
    for (QWidget* widget : shownWidgets(window)) {
        if (const auto* button = qobject_cast<QAbstractButton*>(widget)) {
            captions << button->text();
        } else if (const auto* label = qobject_cast<QLabel*>(widget); label && label->buddy()) {
            captions << label->text();
        } else if (const auto* group = qobject_cast<QGroupBox*>(widget)) {
            captions << group->title();
        } else if (const auto* tabs = qobject_cast<QTabBar*>(widget)) {
            for (int i = 0; i < tabs->count(); ++i)
                captions << tabs->tabText(i);
        } else if (const auto* bar = qobject_cast<QMenuBar*>(widget)) {
            for (const QAction* action : bar->actions())
                captions << action->text();
        }
    }
    QStringList found = sharedKeys(window->objectName(), captions);
    for (const QMenu* menu : window->findChildren<QMenu*>())
        found << duplicateMenuKeys(window->objectName(), menu);
    return found;
}

// True when the widget is scrolled inside a scroll area's viewport, where lying beyond the
// window's edges is expected.
inline bool isScrolled(const QWidget* widget, const QWidget* window)
{
    for (const QWidget* p = widget->parentWidget(); p && p != window; p = p->parentWidget())
        if (const auto* area = qobject_cast<const QAbstractScrollArea*>(p->parentWidget());
            area && area->viewport() == p)
            return true;
    return false;
}

// The width a captioned widget's caption needs with the style's margins, boxes and arrows; 0 for
// a widget without a caption.
inline int captionWidth(const QWidget* widget)
{
    QString caption;
    int extra = 0;
    const QStyle* style = widget->style();
    if (const auto* push = qobject_cast<const QPushButton*>(widget)) {
        caption = push->text();
        extra = style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, widget);
        if (push->menu())
            extra += style->pixelMetric(QStyle::PM_MenuButtonIndicator, nullptr, widget);
    } else if (const auto* tool = qobject_cast<const QToolButton*>(widget);
               tool && tool->toolButtonStyle() != Qt::ToolButtonIconOnly) {
        caption = tool->text();
        extra = style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, widget);
    } else if (const auto* check = qobject_cast<const QCheckBox*>(widget)) {
        caption = check->text();
        extra = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, widget) +
                style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, widget);
    } else if (const auto* radio = qobject_cast<const QRadioButton*>(widget)) {
        caption = radio->text();
        extra = style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, widget) +
                style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, widget);
    } else if (const auto* label = qobject_cast<const QLabel*>(widget);
               label && !label->wordWrap()) {
        caption = label->text();
    } else if (const auto* group = qobject_cast<const QGroupBox*>(widget)) {
        caption = group->title();
    }
    return caption.isEmpty()
               ? 0
               : widget->fontMetrics().size(Qt::TextShowMnemonic, caption).width() + extra;
}

// What of `window` a large font cuts or pushes aside: captioned widgets narrower than their
// caption, word-wrapped labels shorter than their lines, tab bars that need scroll arrows, column
// headers narrower than their titles, buttons lying over one another, and widgets reaching out of
// the window or of the widget they lie in.
inline QStringList cutOrOutside(QWidget* window)
{
    QStringList found;
    // A test's large-font run that did not get its font would pass unseen.
    if (qEnvironmentVariableIsSet("QT_FONT_DPI") &&
        window->logicalDpiY() != qEnvironmentVariableIntValue("QT_FONT_DPI"))
        found << QStringLiteral("%1 is at %2 dpi, not at QT_FONT_DPI")
                     .arg(window->objectName())
                     .arg(window->logicalDpiY());
    const QList<QWidget*> shown = shownWidgets(window);
    for (QWidget* widget : shown) {
        if (isScrolled(widget, window))
            continue;
        if (const int needed = captionWidth(widget); widget->width() < needed)
            found << QStringLiteral("%1 is %2 wide, needs %3")
                         .arg(nameOf(widget))
                         .arg(widget->width())
                         .arg(needed);
        if (const auto* label = qobject_cast<QLabel*>(widget);
            label && label->wordWrap() && !label->text().isEmpty() &&
            label->height() < label->heightForWidth(label->width()))
            found << QStringLiteral("%1 shows only part of its lines").arg(nameOf(widget));
        if (const auto* tabs = qobject_cast<QTabBar*>(widget);
            tabs && tabs->width() < tabs->sizeHint().width())
            found << QStringLiteral("%1: the tabs need %2, have %3")
                         .arg(nameOf(widget))
                         .arg(tabs->sizeHint().width())
                         .arg(tabs->width());
        if (const auto* header = qobject_cast<QHeaderView*>(widget))
            for (int i = 0; i < header->count(); ++i)
                if (!header->isSectionHidden(i) &&
                    header->sectionSize(i) < header->sectionSizeHint(i))
                    found << QStringLiteral("%1: column %2 is %3 wide, needs %4")
                                 .arg(nameOf(widget))
                                 .arg(i)
                                 .arg(header->sectionSize(i))
                                 .arg(header->sectionSizeHint(i));
        const QRect inWindow(widget->mapTo(window, QPoint(0, 0)), widget->size());
        const QWidget* parent = widget->parentWidget();
        const QRect inParent(parent->mapTo(window, QPoint(0, 0)), parent->size());
        if (!window->rect().contains(inWindow) || !inParent.contains(inWindow))
            found << QStringLiteral("%1 at %2,%3 %4×%5 is not inside the window (%6×%7)")
                         .arg(nameOf(widget))
                         .arg(inWindow.x())
                         .arg(inWindow.y())
                         .arg(inWindow.width())
                         .arg(inWindow.height())
                         .arg(window->width())
                         .arg(window->height());
    }
    for (qsizetype i = 0; i < shown.size(); ++i)
        for (qsizetype j = i + 1; j < shown.size(); ++j)
            if (qobject_cast<QAbstractButton*>(shown[i]) &&
                qobject_cast<QAbstractButton*>(shown[j]) &&
                shown[i]->parentWidget() == shown[j]->parentWidget() &&
                shown[i]->geometry().intersects(shown[j]->geometry()))
                found << QStringLiteral("%1 lies over %2").arg(nameOf(shown[i]), nameOf(shown[j]));
    return found;
}

// A window that is larger than its screen, frame and all, cannot be seen whole.
inline QStringList largerThanScreen(const QWidget* window)
{
    const QSize screen = window->screen()->availableGeometry().size();
    const QSize size = window->frameGeometry().size();
    if (size.width() <= screen.width() && size.height() <= screen.height())
        return {};
    return {QStringLiteral("%1 is %2×%3, its screen %4×%5")
                .arg(window->objectName())
                .arg(size.width())
                .arg(size.height())
                .arg(screen.width())
                .arg(screen.height())};
}

// The window's commands that `menu` (its menu of every command) leaves out, or that have
// neither a shortcut nor an access key.
inline QStringList commandsOffTheKeyboard(const QWidget* window, const QMenu* menu)
{
    QStringList found;
    for (QAction* command : window->actions())
        if (!menu->actions().contains(command) ||
            (command->shortcut().isEmpty() && accessKey(command->text()).isEmpty()))
            found << command->text() + QStringLiteral(": no key or not in the menu");
    return found;
}

// Shift+F10 and the Menu key, pressed in `target`, that do not open `menu`.
inline QStringList menuKeysThatFail(QWidget* target, QMenu* menu)
{
    QStringList found;
    for (const QKeyCombination key : {Qt::SHIFT | Qt::Key_F10, QKeyCombination(Qt::Key_Menu)}) {
        target->setFocus();
        QTest::keyClick(target, key.key(), key.keyboardModifiers());
        if (!QTest::qWaitFor([menu] { return menu->isVisible(); }) ||
            QApplication::activePopupWidget() != menu)
            found << QKeySequence(key).toString() + QStringLiteral(" does not open the menu");
        menu->hide();
    }
    return found;
}

// The shown, enabled commands of `bar` that Tab, pressed again and again from `start`, never
// reaches: a keyboard user cannot get to them.
inline QStringList outOfTabReach(QWidget* start, const QToolBar* bar)
{
    start->setFocus();
    QSet<QWidget*> reached;
    for (int i = 0; i < 20; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        reached << QApplication::focusWidget();
    }
    QStringList found;
    for (QAction* action : bar->actions())
        if (action->isVisible() && action->isEnabled() && !action->isSeparator() &&
            !reached.contains(bar->widgetForAction(action)))
            found << action->text() + QStringLiteral(" is out of Tab's reach");
    return found;
}

} // namespace windowchecks
