#include "application.h"

#include "guard.h"

#include "data/regionalsettings.h"

#include <QFileInfo>
#include <QFont>

namespace toolkit {

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv), m_title(titleFromFileName(applicationFilePath()))
{
    registerFontSubstitutions();
    setStyle(QStringLiteral("Windows"));
    // Every window's default font, 11 pixels high (8 points at 96 dpi).
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);
    // Number and date texts follow the regional settings as they change.
    m_onLocaleChange = [] { RegionalSettings::instance().refresh(); };
}

Application::~Application() = default;

Application *Application::instance()
{
    return qobject_cast<Application *>(QCoreApplication::instance());
}

QString Application::titleFromFileName(const QString &path)
{
    QString name = path.mid(path.lastIndexOf(u'/') + 1);
    if (const qsizetype dot = name.indexOf(u'.'); dot >= 0)
        name.truncate(dot);
    if (name.isEmpty())
        return name;
    // The first character may be a surrogate pair; it stays whole and as it is.
    const qsizetype firstLength =
        name.size() > 1 && name.at(0).isHighSurrogate() && name.at(1).isLowSurrogate() ? 2 : 1;
    return name.left(firstLength) + name.mid(firstLength).toLower();
}

void Application::setLocaleChangeHandler(std::function<void()> handler)
{
    m_onLocaleChange = std::move(handler);
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        showCurrentException();
    }
    return false;
}

bool Application::event(QEvent *event)
{
    // The application object itself receives the change of the regional
    // settings once; the widgets get their own LocaleChange afterwards.
    if (event->type() == QEvent::LocaleChange && m_onLocaleChange)
        m_onLocaleChange();
    return QApplication::event(event);
}

QString applicationTitle()
{
    if (Application *app = Application::instance())
        return app->title();
    return Application::titleFromFileName(executablePath());
}

QString executablePath()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}

void registerFontSubstitutions()
{
    const std::pair<QString, QString> substitutions[] = {
        {QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans")},
        {QStringLiteral("Arial"), QStringLiteral("Liberation Sans")},
        {QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif")},
        {QStringLiteral("Courier New"), QStringLiteral("Liberation Mono")},
    };
    for (const auto &[family, face] : substitutions) {
        // Qt keeps the names in lower case.
        if (!QFont::substitutes(family).contains(face, Qt::CaseInsensitive))
            QFont::insertSubstitution(family, face);
    }
}

} // namespace toolkit
