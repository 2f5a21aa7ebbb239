#pragma once

#include <QMainWindow>

class KorTables;
class QAction;
class QLabel;

namespace plot {

class ProfileChart;
class ProfileFeed;
class ProfileView;

// "График участка <name>": the profile of the main window's current Section,
// beside the main window (not modal). It follows every change of the tables
// through the data sources, and a click on a Support's point makes that
// Support current in the support grid.
class ProfileWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit ProfileWindow(KorTables &tables, QWidget *parent = nullptr);
    ~ProfileWindow() override;

    ProfileChart *chart() const { return m_chart; }
    ProfileView *view() const { return m_view; }
    ProfileFeed *feed() const { return m_feed; }

    QAction *actionSaveAs = nullptr;   // "Сохранить как..."
    QAction *actionPrint = nullptr;    // "Печать..."
    QAction *actionClose = nullptr;    // "Закрыть"
    QAction *actionWhole = nullptr;    // "Весь участок"
    QAction *actionZoomIn = nullptr;   // "Увеличить"
    QAction *actionZoomOut = nullptr;  // "Уменьшить"

    // The title lines of the saved and printed page: the report's title with
    // the Section's name.
    QStringList pageTitle() const;
    // What the status bar says now (a hint, or the last message).
    QString statusText() const;

    void saveAs();
    void print();
    // Makes the Support of a profile index current in Table1; a Support the
    // leakage filter hides cannot be, and the status bar says so.
    void selectSupport(int index);

private:
    void buildMenus();
    void showProfile(bool anotherSection);
    void showSectionName(const QString &name);
    void showFailure(const QString &message);
    void pointAt(int index, QPoint globalPosition);
    void tell(const QString &message);

    KorTables &m_tables;
    ProfileFeed *m_feed;
    ProfileChart *m_chart;
    ProfileView *m_view;
    QLabel *m_status;
};

// "Сервис" > "График участка...": shows the owner's profile window, making it
// the first time, and brings it to the front.
ProfileWindow *openProfileWindow(KorTables &tables, QWidget *owner);

} // namespace plot
