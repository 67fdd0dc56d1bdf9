#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QTreeWidget>

#include "gui/front_end.h"
#include "gui/widgets.h"

namespace fw::qt {

// The seven small images: menu items 0..4, disk and partition icons 5 and 6.
QIcon Image(int index) {
  QStyle* st = QApplication::style();
  switch (index) {
    case 0:
      return st->standardIcon(QStyle::SP_FileDialogDetailedView);
    case 1:
      return st->standardIcon(QStyle::SP_DriveFDIcon);
    case 2:
      return st->standardIcon(QStyle::SP_DialogSaveButton);
    case 3:
      return st->standardIcon(QStyle::SP_DialogHelpButton);
    case 4:
      return st->standardIcon(QStyle::SP_MessageBoxInformation);
    case 5:
      return st->standardIcon(QStyle::SP_DriveHDIcon);
    case 6:
      return st->standardIcon(QStyle::SP_DirIcon);
    default:
      return {};
  }
}

void QtFrontEnd::Build(int window, QWidget* host) {
  const WindowModel model = WindowModelFor(window);
  Built& built = windows_[window];
  std::map<int, QButtonGroup*> groups;
  std::vector<QWidget*> frames;
  auto event = [this, window](UiEventKind kind, int n) { Dispatch({window, kind, n}); };
  for (const ControlModel& c : model.controls) {
    QWidget* w = nullptr;
    const int n = c.number;
    switch (c.kind) {
      case ControlKind::Frame: {
        auto* g = new QGroupBox(Q(c.text), host);
        frames.push_back(g);
        w = g;
        break;
      }
      case ControlKind::Tree: {
        auto* t = new QTreeWidget(host);
        t->setHeaderHidden(true);
        t->setRootIsDecorated(false);
        t->setIndentation(16);
        t->setIconSize(QSize(16, 16));
        connect(t, &QTreeWidget::currentItemChanged, this,
                [event, n] { event(UiEventKind::Control, n); });
        w = t;
        break;
      }
      case ControlKind::Canvas:
        status_ = new StatusCanvas(host);
        w = status_;
        break;
      case ControlKind::Button: {
        auto* b = new QPushButton(Q(c.text), host);
        connect(b, &QPushButton::clicked, this, [event, n] { event(UiEventKind::Control, n); });
        w = b;
        break;
      }
      case ControlKind::Hyperlink:
        w = new LinkLabel(Q(c.text), host, [event, n] { event(UiEventKind::MouseDown, n); });
        break;
      case ControlKind::Option: {
        auto* r = new QRadioButton(Q(c.text), host);
        QButtonGroup*& g = groups[c.group];
        if (!g) g = new QButtonGroup(host);
        g->addButton(r);
        connect(r, &QRadioButton::clicked, this, [event, n] { event(UiEventKind::Control, n); });
        w = r;
        break;
      }
      case ControlKind::DropDown: {
        auto* cb = new QComboBox(host);
        for (const std::string& item : c.items) cb->addItem(Q(item));
        connect(cb, &QComboBox::activated, this, [event, n] { event(UiEventKind::Control, n); });
        w = cb;
        break;
      }
      case ControlKind::Text: {
        auto* l = new QLabel(Q(c.text), host);
        l->setWordWrap(true);
        l->setAlignment(c.centred ? Qt::AlignHCenter | Qt::AlignTop : Qt::AlignLeft | Qt::AlignTop);
        w = l;
        break;
      }
      case ControlKind::TextField: {
        auto* e = new QLineEdit(Q(c.text), host);
        if (c.maxLength > 0) e->setMaxLength(c.maxLength);
        if (c.digitsOnly) {
          e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
        }
        connect(e, &QLineEdit::textEdited, this, [event, n] { event(UiEventKind::Control, n); });
        w = e;
        break;
      }
      case ControlKind::CheckBox: {
        auto* b = new QCheckBox(Q(c.text), host);
        connect(b, &QCheckBox::clicked, this, [event, n] { event(UiEventKind::Control, n); });
        w = b;
        break;
      }
      case ControlKind::Picture: {
        auto* l = new QLabel(host);
        l->setPixmap(AboutPicture());
        l->setAlignment(Qt::AlignCenter);
        w = l;
        break;
      }
    }
    w->setGeometry(c.x, c.y, c.width, c.height);
    if (!c.tooltip.empty()) w->setToolTip(Q(c.tooltip));
    w->setObjectName(QString("c%1").arg(n));
    built.controls[n] = w;
  }
  // Frames lie under the controls they hold, whatever their order in the model.
  for (QWidget* f : frames) f->lower();
}

}  // namespace fw::qt
