#include "HelpsForm.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QPointer<THelpsForm>& sharedForm() {
    static QPointer<THelpsForm> form;
    return form;
}

}  // namespace

THelpsForm::THelpsForm(QWidget* parent) : QDialog(parent) {
    setObjectName("HelpsForm");
    setWindowTitle("Help");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    resize(kClientWidth, kClientHeight);

    HelpMemo = new QPlainTextEdit(this);
    HelpMemo->setObjectName("HelpMemo");
    HelpMemo->setReadOnly(true);
    // The texts are laid out in columns of plain characters.
    HelpMemo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    HelpMemo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    CloseButton = new QPushButton("&Close", this);
    CloseButton->setDefault(true);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(CloseButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(HelpMemo);
    layout->addLayout(buttons);
}

void THelpsForm::ShowFile(const std::string& path) {
    const QString name = QString::fromStdString(path);
    setWindowTitle("Help - " + QFileInfo(name).fileName());
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kLargestText) {
        HelpMemo->setPlainText("This help text could not be read: " + name +
                               "\n\nThe program's files may be incomplete; installing the "
                               "program again puts it back.");
        return;
    }
    HelpMemo->setPlainText(QString::fromUtf8(file.read(kLargestText)));
    HelpMemo->moveCursor(QTextCursor::Start);
}

void presentHelpWindow(QDialog* window, QWidget* parent) {
    if (parent != nullptr && window->parentWidget() != parent && QApplication::activeModalWidget() != nullptr) {
        window->setParent(parent, window->windowFlags());
    }
    if (window->isMinimized()) {
        window->showNormal();
    } else {
        window->show();
    }
    window->raise();
    window->activateWindow();
}

void showHelpText(QWidget* parent, const std::string& path) {
    QPointer<THelpsForm>& form = sharedForm();
    if (form.isNull()) {
        form = new THelpsForm(parent);
    }
    form->ShowFile(path);
    presentHelpWindow(form, parent);
}

THelpsForm* sharedHelpsForm() { return sharedForm().data(); }
