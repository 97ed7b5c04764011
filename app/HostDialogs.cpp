#include "HostDialogs.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QInputDialog>

namespace cvkapp {

namespace {

FileDialogAnswer runFileDialog(QWidget* parent, const FileDialogRequest& request,
                               QFileDialog::AcceptMode mode) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    if (!request.defaultSuffix.isEmpty()) {
        dialog.setDefaultSuffix(request.defaultSuffix);
    }
    dialog.setNameFilters(request.filters);
    if (request.filterIndex >= 0 && request.filterIndex < request.filters.size()) {
        dialog.selectNameFilter(request.filters[request.filterIndex]);
    }
    dialog.setDirectory(request.folder);
    if (!request.fileName.isEmpty()) {
        dialog.selectFile(request.fileName);
    }
    FileDialogAnswer answer;
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        answer.path = dialog.selectedFiles().first();
    }
    answer.filterIndex = static_cast<int>(request.filters.indexOf(dialog.selectedNameFilter()));
    return answer;
}

}  // namespace

HostDialogs HostDialogs::standard() {
    HostDialogs dialogs;
    dialogs.openFile = [](QWidget* parent, const FileDialogRequest& request) {
        return runFileDialog(parent, request, QFileDialog::AcceptOpen);
    };
    dialogs.saveFile = [](QWidget* parent, const FileDialogRequest& request) {
        return runFileDialog(parent, request, QFileDialog::AcceptSave);
    };
    dialogs.chooseFont = [](QWidget* parent, const QFont& initial) {
        bool ok = false;
        const QFont chosen = QFontDialog::getFont(&ok, initial, parent);
        return ok ? chosen : initial;
    };
    dialogs.chooseColor = [](QWidget* parent, const QColor& initial) {
        const QColor chosen = QColorDialog::getColor(initial, parent);
        return chosen.isValid() ? chosen : initial;
    };
    dialogs.askText = [](QWidget* parent, const QString& title, const QString& label) {
        return QInputDialog::getText(parent, title, label);
    };
    return dialogs;
}

QString extensionOf(const QString& path) {
    const QString suffix = QFileInfo(path).suffix();
    return suffix.isEmpty() ? QString() : "." + suffix;
}

QString songFileName(const QString& typed, int filterIndex) {
    const QString wanted = filterIndex == 1 ? QStringLiteral(".kar") : QStringLiteral(".mid");
    const QString current = extensionOf(typed);
    if (current.compare(wanted, Qt::CaseInsensitive) == 0) {
        return typed;
    }
    return typed.chopped(current.size()) + wanted;
}

}  // namespace cvkapp
