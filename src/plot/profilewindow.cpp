#include "profilewindow.h"

#include "profilechart.h"
#include "profilefeed.h"
#include "profilepage.h"
#include "profileview.h"

#include "data/kortables.h"
#include "report/print.h"
#include "report/printseams.h"
#include "toolkit/dialogs.h"
#include "toolkit/guard.h"

#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <QPrinter>
#include <QStatusBar>
#include <QToolTip>

namespace plot {

namespace {

const QString kHint = QStringLiteral(
    "Колесо — масштаб, перетаскивание — сдвиг, Shift+перетаскивание — участок, двойной щелчок — весь участок");
const QString kNoValues = QStringLiteral("Нет расчетных значений — выполните «Расчитать»");

QAction *menuItem(QWidget *owner, const char *name, const QString &caption)
{
    auto *action = new QAction(caption, owner);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

} // namespace

ProfileWindow::ProfileWindow(KorTables &tables, QWidget *parent)
    : QMainWindow(parent, Qt::Window), m_tables(tables), m_feed(new ProfileFeed(tables, this)),
      m_chart(new ProfileChart), m_view(new ProfileView(m_chart, this)), m_status(new QLabel(this))
{
    setObjectName(QStringLiteral("ProfileWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setCentralWidget(m_view);
    statusBar()->addWidget(m_status, 1);
    m_status->setText(kHint);
    buildMenus();
    resize(900, 600);

    connect(m_feed, &ProfileFeed::profileChanged, this, &ProfileWindow::showProfile);
    connect(m_feed, &ProfileFeed::sectionNameChanged, this, &ProfileWindow::showSectionName);
    connect(m_feed, &ProfileFeed::failed, this, &ProfileWindow::showFailure);
    toolkit::connectGuarded(m_view, &ProfileView::supportClicked, this, &ProfileWindow::selectSupport);
    toolkit::connectGuarded(m_view, &ProfileView::supportPointed, this, &ProfileWindow::pointAt);

    showSectionName(m_feed->sectionName());
    if (m_feed->failure().isEmpty())
        showProfile(true);
    else
        showFailure(m_feed->failure());
    m_view->setFocus();
}

ProfileWindow::~ProfileWindow() = default;

void ProfileWindow::buildMenus()
{
    actionSaveAs = menuItem(this, "actionSaveAs", QStringLiteral("Сохранить как..."));
    actionSaveAs->setShortcut(QKeySequence::Save);
    actionPrint = menuItem(this, "actionPrint", QStringLiteral("Печать..."));
    actionPrint->setShortcut(QKeySequence::Print);
    actionClose = menuItem(this, "actionClose", QStringLiteral("Закрыть"));
    QMenu *file = menuBar()->addMenu(QStringLiteral("Файл"));
    file->addActions({actionSaveAs, actionPrint});
    file->addSeparator();
    file->addAction(actionClose);

    // The keys are the chart's own (see ProfileView); the menu only names them.
    actionWhole = menuItem(this, "actionWhole", QStringLiteral("Весь участок\tHome"));
    actionZoomIn = menuItem(this, "actionZoomIn", QStringLiteral("Увеличить\t+"));
    actionZoomOut = menuItem(this, "actionZoomOut", QStringLiteral("Уменьшить\t-"));
    QMenu *view = menuBar()->addMenu(QStringLiteral("Вид"));
    view->addActions({actionWhole, actionZoomIn, actionZoomOut});

    toolkit::connectGuarded(actionSaveAs, &QAction::triggered, this, &ProfileWindow::saveAs);
    toolkit::connectGuarded(actionPrint, &QAction::triggered, this, &ProfileWindow::print);
    toolkit::connectGuarded(actionClose, &QAction::triggered, this, [this] { close(); });
    toolkit::connectGuarded(actionWhole, &QAction::triggered, this, [this] { m_chart->showWhole(); });
    auto zoomBy = [this](double factor) {
        const Interval &shown = m_chart->stretch().shown();
        m_chart->zoom((shown.min + shown.max) / 2, factor);
    };
    toolkit::connectGuarded(actionZoomIn, &QAction::triggered, this, [zoomBy] { zoomBy(0.5); });
    toolkit::connectGuarded(actionZoomOut, &QAction::triggered, this, [zoomBy] { zoomBy(2); });
}

QStringList ProfileWindow::pageTitle() const
{
    return reportTitle(m_feed->sectionName()).split(u'\r');
}

QString ProfileWindow::statusText() const
{
    return m_status->text();
}

void ProfileWindow::tell(const QString &message)
{
    m_status->setText(message);
}

void ProfileWindow::showSectionName(const QString &name)
{
    setWindowTitle(QStringLiteral("График участка ") + name);
}

void ProfileWindow::showProfile(bool anotherSection)
{
    const Profile &profile = m_feed->profile();
    m_chart->setProfile(&profile, anotherSection);
    m_chart->setNotice(profile.hasCalculatedValues() ? QString() : kNoValues);
}

void ProfileWindow::showFailure(const QString &message)
{
    const QString text = QStringLiteral("Опоры участка не прочитаны: ") + message;
    m_chart->setNotice(text);
    tell(text);
}

void ProfileWindow::pointAt(int index, QPoint globalPosition)
{
    const std::vector<ProfileSupport> &supports = m_chart->profile().supports();
    if (index < 0 || index >= int(supports.size())) {
        QToolTip::hideText();
        return;
    }
    QToolTip::showText(globalPosition, describeSupport(supports[std::size_t(index)], m_tables), m_view);
}

void ProfileWindow::selectSupport(int index)
{
    const std::vector<ProfileSupport> &supports = m_chart->profile().supports();
    if (index < 0 || index >= int(supports.size()))
        return;
    const ProfileSupport &support = supports[std::size_t(index)];
    const QString name = QStringLiteral("№ %1%2").arg(QString::number(support.number), support.letter);
    Table &grid = m_tables.Table1;
    if (grid.Locate(support.key))
        tell(QStringLiteral("Опора %1 выбрана в таблице опор").arg(name));
    else if (grid.Filtered() && !grid.Filter().isEmpty())
        tell(QStringLiteral("Опора %1 скрыта фильтром «Опоры с I>40 мА»: в таблице опор ее не выбрать").arg(name));
    else
        tell(QStringLiteral("Опоры %1 больше нет на участке").arg(name));
}

void ProfileWindow::saveAs()
{
    QString filter;
    QString path = report::fileDialogs().saveFileName(this, QStringLiteral("Сохранить график"), pageFilters(),
                                                      &filter);
    if (path.isEmpty())
        return;
    const std::optional<PageFormat> format = pageFormat(path, filter);
    if (!format) {
        toolkit::messageDlg(QStringLiteral("График сохраняется в файлы PNG, SVG или PDF: выберите один из них."),
                            toolkit::MessageKind::Warning, toolkit::BoxButton::Ok);
        return;
    }
    const QString failure = writePage(path, *format, pageTitle(), *m_chart);
    if (!failure.isEmpty())
        toolkit::showErrorBox(QStringLiteral("График не сохранен в «%1»: %2").arg(path, failure));
    else
        tell(QStringLiteral("График сохранен в «%1»").arg(path));
}

void ProfileWindow::print()
{
    std::unique_ptr<QPrinter> printer = report::printSystem().createPrinter();
    if (!printer) {
        toolkit::showErrorBox(
            QStringLiteral("Принтер не установлен или недоступен, график не напечатан. Установите принтер"));
        return;
    }
    printer->setPageSize(QPageSize(QPageSize::A4));
    printer->setPageOrientation(QPageLayout::Landscape);
    printer->setDocName(windowTitle());
    if (!report::printSystem().runPrintDialog(*printer, 1, this))
        return;
    const QString failure = printPage(*printer, pageTitle(), *m_chart);
    if (!failure.isEmpty())
        toolkit::showErrorBox(QStringLiteral("График не напечатан: ") + failure);
}

ProfileWindow *openProfileWindow(KorTables &tables, QWidget *owner)
{
    auto *window = owner ? owner->findChild<ProfileWindow *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    if (!window)
        window = new ProfileWindow(tables, owner);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

} // namespace plot
