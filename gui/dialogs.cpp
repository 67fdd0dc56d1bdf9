#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>

#include "app/log.h"
#include "gui/front_end.h"
#include "gui/qt_glue.h"

namespace fw::qt {

QWidget* QtFrontEnd::DialogParent() const {
  for (int w : {kConfigWindow, kDownloadCenterWindow, kAboutWindow}) {
    QWidget* win = Window(w);
    if (win && win->isVisible()) return win;
  }
  return main_;
}

MsgAnswer QtFrontEnd::MessageBox(const std::string& title, const std::string& text,
                                 MsgButtons buttons, MsgIcon icon) {
  return OnUi(this, [&] {
    if (questionsEnded_) {
      FW_LOG("The program is ending: " + title + " answered without asking: " + text);
      return SafeAnswer(buttons);
    }
    QMessageBox box(DialogParent());
    box.setWindowTitle(Q(title));
    box.setText(Q(text));
    switch (icon) {
      case MsgIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
      case MsgIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
      case MsgIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
      case MsgIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
      case MsgIcon::None:
        break;
    }
    using B = QMessageBox::StandardButton;
    switch (buttons) {
      case MsgButtons::Ok:
        box.setStandardButtons(B::Ok);
        break;
      case MsgButtons::OkCancel:
        box.setStandardButtons(B::Ok | B::Cancel);
        break;
      case MsgButtons::YesNo:
        box.setStandardButtons(B::Yes | B::No);
        break;
      case MsgButtons::YesNoCancel:
        box.setStandardButtons(B::Yes | B::No | B::Cancel);
        break;
      case MsgButtons::RetryCancel:
        box.setStandardButtons(B::Retry | B::Cancel);
        break;
    }
    box.exec();
    switch (box.standardButton(box.clickedButton())) {
      case B::Ok:
        return MsgAnswer::Ok;
      case B::Yes:
        return MsgAnswer::Yes;
      case B::No:
        return MsgAnswer::No;
      case B::Retry:
        return MsgAnswer::Retry;
      default:
        // Esc or the close box: the safe answer.
        return SafeAnswer(buttons);
    }
  });
}

namespace {
// Qt's name filters: "Text (*.a *.b)" joined by ";;"; *selected gets the preselected one.
QString Filters(const std::vector<FileFilter>& filters, QString* selected = nullptr) {
  QStringList list;
  for (const FileFilter& f : filters) {
    QString d = Q(f.description);
    if (!d.contains('(')) d += " (" + Q(f.pattern) + ")";
    // Qt separates the patterns in the parentheses by spaces; "*.hfs;*.bin" would be one
    // pattern that matches no file.
    const qsizetype open = d.lastIndexOf('(');
    d = d.left(open) + d.mid(open).replace(';', ' ');
    if (f.preselected && selected) *selected = d;
    list << d;
  }
  return list.join(";;");
}
}  // namespace

std::string QtFrontEnd::OpenFileChooser(const std::string& title, const std::string& defaultPath,
                                        const std::vector<FileFilter>& filters) {
  return OnUi(this, [&] {
    if (questionsEnded_) return std::string();
    QString selected;
    const QString list = Filters(filters, &selected);
    return S(QFileDialog::getOpenFileName(DialogParent(), Q(title), Q(defaultPath), list,
                                          selected.isEmpty() ? nullptr : &selected));
  });
}

std::string QtFrontEnd::SaveFileChooser(const std::string& title, const std::string& defaultPath,
                                        const std::vector<FileFilter>& filters) {
  return OnUi(this, [&] {
    if (questionsEnded_) return std::string();
    QString selected;
    QFileDialog dialog(DialogParent(), Q(title), QString(), Filters(filters, &selected));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    if (!selected.isEmpty()) dialog.selectNameFilter(selected);
    // After the filter: choosing a filter renames the offered file to its first pattern's suffix
    // ("PartSave.bin" would become "PartSave.hfs").
    dialog.selectFile(Q(defaultPath));
    if (dialog.exec() != QDialog::Accepted) return std::string();
    return S(dialog.selectedFiles().value(0));
  });
}

std::string QtFrontEnd::FolderChooser(const std::string& title, const std::string& initial) {
  return OnUi(this, [&] {
    if (questionsEnded_) return std::string();
    return S(QFileDialog::getExistingDirectory(DialogParent(), Q(title), Q(initial)));
  });
}

std::string QtFrontEnd::InputText(const std::string& title, const std::string& prompt,
                                  const std::string& defaultText) {
  return OnUi(this, [&] {
    if (questionsEnded_) return std::string();
    bool ok = false;
    const QString t = QInputDialog::getText(DialogParent(), Q(title), Q(prompt), QLineEdit::Normal,
                                            Q(defaultText), &ok);
    return ok ? S(t) : std::string();
  });
}

}  // namespace fw::qt
