#include "filechooser.h"

#include "exportfiledialog.h"

#include <QFileDialog>

namespace exchangeui {

FileChooser::~FileChooser() = default;

namespace {

class QtFileChooser : public FileChooser
{
public:
    std::optional<QString> importFile(QWidget *parent) override
    {
        const QString path = QFileDialog::getOpenFileName(
            parent, QStringLiteral("Импорт опор"), QString(),
            QStringLiteral("Файлы CSV (*.csv *.txt *.tsv);;Все файлы (*)"));
        if (path.isEmpty())
            return std::nullopt;
        return path;
    }

    std::optional<ExportChoice> exportFile(QWidget *parent, const QString &suggestedName) override
    {
        ExportFileDialog dialog(parent, suggestedName);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.choice();
    }
};

QtFileChooser &qtChooser()
{
    static QtFileChooser chooser;
    return chooser;
}

FileChooser *g_installed = nullptr;

} // namespace

FileChooser &fileChooser()
{
    return g_installed ? *g_installed : qtChooser();
}

FileChooser *installFileChooser(FileChooser *chooser)
{
    FileChooser *previous = g_installed;
    g_installed = chooser;
    return previous;
}

} // namespace exchangeui
