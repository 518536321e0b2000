#include "platform/ui/qt/qt_binding.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QSlider>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <map>
#include <vector>

#include "platform/ui/message_box.h"

namespace norv::ui {
namespace {

// Windows and the model exchange text as bytes; on this system they are UTF-8.
QString ToQt(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
std::string FromQt(const QString& text) {
  return text.toUtf8().toStdString();
}

// MulDiv: the platform rounds dialog-unit conversions to the nearest pixel.
int Scale(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  const long long half = denominator / 2;
  return static_cast<int>(product >= 0 ? (product + half) / denominator
                                       : (product - half) / denominator);
}

class DialogWindow;

// Open windows by the handles the model sees, and dialog windows by their model.
std::map<HWND, QPointer<QWidget>>& Windows() {
  static std::map<HWND, QPointer<QWidget>> windows;
  return windows;
}
std::map<const Dialog*, DialogWindow*>& DialogWindows() {
  static std::map<const Dialog*, DialogWindow*> windows;
  return windows;
}
std::function<void(Dialog&)>& ShownHook() {
  static std::function<void(Dialog&)> hook;
  return hook;
}

HWND HandleOf(QWidget* widget) {
  return reinterpret_cast<HWND>(widget);
}

// Keeps a window known under its handle while it lives.
class WindowHandle {
 public:
  explicit WindowHandle(QWidget* widget) : handle_(HandleOf(widget)) {
    Windows()[handle_] = widget;
  }
  ~WindowHandle() { Windows().erase(handle_); }
  WindowHandle(const WindowHandle&) = delete;
  WindowHandle& operator=(const WindowHandle&) = delete;
  HWND handle() const { return handle_; }

 private:
  HWND handle_;
};

void CentreOn(QWidget* window, QWidget* parent) {
  QRect area;
  if (parent != nullptr) {
    area = parent->window()->frameGeometry();
  } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
    area = screen->availableGeometry();
  }
  if (area.isEmpty()) return;
  const QSize size = window->size();
  window->move(area.center().x() - size.width() / 2, area.center().y() - size.height() / 2);
}

class DialogWindow : public QDialog {
 public:
  DialogWindow(Dialog& model, QWidget* parent) : QDialog(parent), model_(model) {
    DialogWindows()[&model_] = this;
    setModal(true);
    // A modal frame with caption and system menu: no resizing, no help button.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    Build();
  }
  ~DialogWindow() override { DialogWindows().erase(&model_); }

  QWidget* Widget(int id) const {
    const auto& controls = model_.controls();
    for (std::size_t i = 0; i < controls.size(); ++i)
      if (controls[i].id() == id && id != kNoId) return widgets_[i];
    return nullptr;
  }
  Dialog& model() const { return model_; }

  // The model's state onto the widgets; no widget reports back meanwhile.
  void Refresh() {
    const bool wasRefreshing = refreshing_;
    refreshing_ = true;
    setWindowTitle(ToQt(model_.caption()));
    auto& controls = model_.controls();
    for (std::size_t i = 0; i < controls.size(); ++i) Refresh(controls[i], widgets_[i]);
    refreshing_ = wasRefreshing;
  }

  // Runs a user's action on the model, then shows what it changed; closes
  // the window when the logic ended the dialog.
  void Deliver(const std::function<void()>& action) {
    if (model_.ended()) return;
    action();
    if (model_.ended()) {
      QDialog::done(model_.result());
      return;
    }
    Refresh();
  }

  void reject() override {
    // Escape and the close box send Cancel, which the logic may refuse.
    Deliver([this] { model_.Notify(Dialog::kCancel, Notification::kClicked); });
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::FocusIn) {
      const auto it = ids_.find(static_cast<QWidget*>(watched));
      if (it != ids_.end() && it->second != model_.focus()) {
        const int id = it->second;
        if (refreshing_) {
          // Focus moved while the logic's changes are shown: report it after.
          QTimer::singleShot(0, this,
                             [this, id] { Deliver([this, id] { model_.MoveFocus(id); }); });
        } else {
          Deliver([this, id] { model_.MoveFocus(id); });
        }
      }
    }
    return QDialog::eventFilter(watched, event);
  }

 private:
  void Build() {
    const DialogTemplate& t = model_.dialogTemplate();
    const QFont font = DialogFont(t);
    setFont(font);
    units_ = DialogUnitsOf(font);
    setFixedSize(units_.X(t.width), units_.Y(t.height));
    const QFontMetrics metrics(font);
    QWidget* previousStop = nullptr;
    for (Control& c : model_.controls()) {
      QWidget* w = Create(c, metrics);
      widgets_.push_back(w);
      if (c.id() != kNoId) ids_[w] = c.id();
      w->installEventFilter(this);
      // The tab order is the template's order.
      if (w->focusPolicy() != Qt::NoFocus) {
        if (previousStop != nullptr) QWidget::setTabOrder(previousStop, w);
        previousStop = w;
      }
    }
  }

  QWidget* Create(Control& c, const QFontMetrics& metrics) {
    const ScreenRect r = units_.ToPixels(c.rect());
    QRect geometry(r.left, r.top, r.right - r.left, r.bottom - r.top);
    const int id = c.id();
    QWidget* w = nullptr;
    switch (c.kind()) {
      case ControlKind::kGroupBox:
        w = new QGroupBox(this);
        w->setFocusPolicy(Qt::NoFocus);
        // The frame's top line runs through the middle of its caption, as the
        // templates were drawn for, so the framed controls sit inside it.
        w->setStyleSheet(QStringLiteral("QGroupBox { border: 1px solid palette(mid); "
                                        "border-radius: 2px; margin-top: %1px; }"
                                        "QGroupBox::title { subcontrol-origin: margin; "
                                        "left: %2px; padding: 0 2px; }")
                             .arg(metrics.height() / 2)
                             .arg(units_.X(4)));
        break;
      case ControlKind::kLabel: {
        auto* label = new QLabel(this);
        label->setAlignment(((c.style() & kStyleCentred) != 0 ? Qt::AlignHCenter : Qt::AlignLeft) |
                            Qt::AlignTop);
        w = label;
        break;
      }
      case ControlKind::kCheckBox: {
        QAbstractButton* box;
        if ((c.style() & kStylePushLike) != 0) {
          auto* button = new QPushButton(this);
          button->setCheckable(true);
          button->setAutoDefault(false);
          box = button;
        } else {
          box = new QCheckBox(this);
        }
        connect(box, &QAbstractButton::clicked, this, [this, id](bool checked) {
          Deliver([this, id, checked] {
            if (Control* control = model_.Find(id)) control->checked = checked;
            model_.Notify(id, Notification::kClicked);
          });
        });
        w = box;
        break;
      }
      case ControlKind::kPushButton:
      case ControlKind::kDefaultPushButton: {
        auto* button = new QPushButton(this);
        button->setDefault(c.kind() == ControlKind::kDefaultPushButton);
        connect(button, &QPushButton::clicked, this,
                [this, id] { Deliver([this, id] { model_.Notify(id, Notification::kClicked); }); });
        w = button;
        break;
      }
      case ControlKind::kEdit: {
        auto* edit = new QLineEdit(this);
        if ((c.style() & kStyleDigitsOnly) != 0)
          edit->setValidator(
              new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
        connect(edit, &QLineEdit::textEdited, this, [this, id](const QString& text) {
          Deliver([this, id, text] {
            if (Control* control = model_.Find(id)) control->text = FromQt(text);
            model_.Notify(id, Notification::kTextChanged);
          });
        });
        w = edit;
        break;
      }
      case ControlKind::kDropDownList: {
        auto* list = new QComboBox(this);
        // The template's height is the dropped list's; the closed box is one line.
        const int closed = list->sizeHint().height();
        const int itemHeight = std::max(1, metrics.height() + 2);
        list->setMaxVisibleItems(std::max(1, (geometry.height() - closed) / itemHeight));
        geometry.setHeight(closed);
        connect(list, &QComboBox::activated, this, [this, id](int index) {
          Deliver([this, id, index] {
            if (Control* control = model_.Find(id)) control->selection = index;
            model_.Notify(id, Notification::kSelectionChanged);
          });
        });
        w = list;
        break;
      }
      case ControlKind::kTrackBar: {
        auto* track =
            new QSlider((c.style() & kStyleHorizontal) != 0 ? Qt::Horizontal : Qt::Vertical, this);
        track->setTickPosition((c.style() & kStyleNoTicks) != 0 ? QSlider::NoTicks
                                                                : QSlider::TicksBelow);
        connect(track, &QSlider::valueChanged, this, [this, id](int position) {
          if (refreshing_) return;
          Deliver([this, id, position] {
            model_.SetPosition(id, position);
            model_.Notify(id, Notification::kScrolled);
          });
        });
        w = track;
        break;
      }
    }
    w->setGeometry(geometry);
    if (id != kNoId) w->setObjectName(QString::number(id));
    return w;
  }

  void Refresh(const Control& c, QWidget* w) {
    w->setEnabled(c.enabled);
    w->setHidden(!c.visible);
    const QString text = ToQt(c.text);
    switch (c.kind()) {
      case ControlKind::kGroupBox: {
        auto* box = static_cast<QGroupBox*>(w);
        if (box->title() != text) box->setTitle(text);
        break;
      }
      case ControlKind::kLabel: {
        auto* label = static_cast<QLabel*>(w);
        if (label->text() != text) label->setText(text);
        break;
      }
      case ControlKind::kCheckBox:
      case ControlKind::kPushButton:
      case ControlKind::kDefaultPushButton: {
        auto* button = static_cast<QAbstractButton*>(w);
        if (button->text() != text) button->setText(text);
        if (button->isCheckable() && button->isChecked() != c.checked)
          button->setChecked(c.checked);
        break;
      }
      case ControlKind::kEdit: {
        auto* edit = static_cast<QLineEdit*>(w);
        edit->setMaxLength(c.textLimit > 0 ? c.textLimit : 32767);
        if (edit->text() != text) edit->setText(text);
        break;
      }
      case ControlKind::kDropDownList: {
        auto* list = static_cast<QComboBox*>(w);
        bool same = list->count() == static_cast<int>(c.items.size());
        for (int i = 0; same && i < list->count(); ++i)
          same = list->itemText(i) == ToQt(c.items[static_cast<std::size_t>(i)].text);
        if (!same) {
          list->clear();
          for (const ListItem& item : c.items) list->addItem(ToQt(item.text));
        }
        if (list->currentIndex() != c.selection) list->setCurrentIndex(c.selection);
        break;
      }
      case ControlKind::kTrackBar: {
        auto* track = static_cast<QSlider*>(w);
        track->setRange(c.rangeMin, c.rangeMax);
        track->setValue(c.position);
        break;
      }
    }
  }

  Dialog& model_;
  DialogUnits units_;
  std::vector<QWidget*> widgets_;  // one per control, in template order
  std::map<QWidget*, int> ids_;
  bool refreshing_ = false;
};

QMessageBox::Icon IconOf(unsigned type) {
  switch (type & 0xF0u) {
    case 0x10:
      return QMessageBox::Critical;
    case 0x20:
      return QMessageBox::Question;
    case 0x30:
      return QMessageBox::Warning;
    case 0x40:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

}  // namespace

int DialogUnits::X(int du) const {
  return Scale(du, baseX, 4);
}
int DialogUnits::Y(int du) const {
  return Scale(du, baseY, 8);
}
ScreenRect DialogUnits::ToPixels(const DialogRect& rect) const {
  const int left = X(rect.x);
  const int top = Y(rect.y);
  return {left, top, left + X(rect.width), top + Y(rect.height)};
}

QFont DialogFont(const DialogTemplate& dialog) {
  QString family = ToQt(dialog.fontName);
  // "MS Sans Serif" is a bitmap font of another system; DejaVu Sans is the
  // sans-serif face every installation here has.
  if (!QFontDatabase::families().contains(family)) family = QStringLiteral("DejaVu Sans");
  QFont font(family);
  font.setPointSize(dialog.fontSize > 0 ? dialog.fontSize : 8);
  return font;
}

DialogUnits DialogUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  static const QString kAlphabet =
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const int width = metrics.horizontalAdvance(kAlphabet);
  return {(width / 26 + 1) / 2, metrics.height()};
}

QtBinding::QtBinding() : previous_(CurrentDialogBinding()) {
  SetDialogBinding(this);
  NorvSetMessageSink(&QtBinding::MessageSink, this);
}

QtBinding::~QtBinding() {
  NorvSetMessageSink(nullptr, nullptr);
  SetDialogBinding(previous_);
}

void QtBinding::RunModal(Dialog& dialog) {
  DialogWindow window(dialog, ParentFor(dialog.owner()));
  WindowHandle handle(&window);
  dialog.SetWindow(handle.handle());
  dialog.Initialise();
  if (!dialog.ended()) {
    window.Refresh();
    if (dialog.centred()) CentreOn(&window, window.parentWidget());
    QTimer::singleShot(0, &window, [&dialog] {
      if (ShownHook() && !dialog.ended()) ShownHook()(dialog);
    });
    window.exec();
  }
  dialog.SetWindow(nullptr);
}

int QtBinding::TrackPopupMenu(Dialog& owner, const PopupMenu& menu, ScreenPoint at, std::uint32_t) {
  // QMenu takes either button, as a menu tracked with the right button does.
  QMenu popup(WindowOf(owner));
  for (const PopupMenu::Item& item : menu.items()) {
    if (item.separator) {
      popup.addSeparator();
      continue;
    }
    QAction* action = popup.addAction(ToQt(item.text));
    action->setData(item.id);
    if (item.checked) {
      action->setCheckable(true);
      action->setChecked(true);
    }
  }
  QAction* chosen = popup.exec(QPoint(at.x, at.y));
  return chosen != nullptr ? chosen->data().toInt() : 0;
}

bool QtBinding::ChooseOpenFile(Dialog& owner, OpenFileRequest& request) {
  QFileDialog chooser(WindowOf(owner), ToQt(request.title));
  // Qt's own chooser: the same everywhere, and one the program can position.
  chooser.setOption(QFileDialog::DontUseNativeDialog);
  chooser.setAcceptMode(QFileDialog::AcceptOpen);
  chooser.setFileMode(request.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  chooser.setOption(QFileDialog::ReadOnly, false);
  chooser.setNameFilter(ToQt(request.filterDescription + " (" + request.filterPattern + ")"));
  chooser.setDefaultSuffix(ToQt(request.defaultExtension));
  chooser.setSizeGripEnabled(request.resizable);
  if (!request.path.empty()) {
    const QFileInfo initial(QFile::decodeName(request.path.c_str()));
    if (initial.absoluteDir().exists()) chooser.setDirectory(initial.absoluteDir());
    chooser.selectFile(initial.fileName());
  }
  WindowHandle handle(&chooser);
  // The chooser is one window here: its frame and its own window alike.
  if (request.onInit) request.onInit(handle.handle(), handle.handle());
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return false;
  const std::string path = QFile::encodeName(chooser.selectedFiles().front()).toStdString();
  if (path.size() > request.maxPath) return false;
  request.path = path;
  return true;
}

ScreenRect QtBinding::ControlScreenRect(const Dialog& dialog, int id) const {
  const QWidget* w = ControlWidget(dialog, id);
  if (w == nullptr) return {};
  const QPoint topLeft = w->mapToGlobal(QPoint(0, 0));
  return {topLeft.x(), topLeft.y(), topLeft.x() + w->width(), topLeft.y() + w->height()};
}

QDialog* QtBinding::WindowOf(const Dialog& dialog) {
  const auto it = DialogWindows().find(&dialog);
  return it != DialogWindows().end() ? it->second : nullptr;
}

QWidget* QtBinding::ControlWidget(const Dialog& dialog, int id) {
  const auto it = DialogWindows().find(&dialog);
  return it != DialogWindows().end() ? it->second->Widget(id) : nullptr;
}

Dialog* QtBinding::DialogOf(const QWidget* window) {
  for (const auto& [model, shown] : DialogWindows())
    if (shown == window) return &shown->model();
  return nullptr;
}

QWidget* QtBinding::WidgetOf(HWND window) {
  const auto it = Windows().find(window);
  return it != Windows().end() ? it->second.data() : nullptr;
}

QWidget* QtBinding::ParentFor(HWND owner) {
  if (QWidget* known = WidgetOf(owner)) return known;
  return QApplication::activeModalWidget();
}

void QtBinding::SetShownHook(std::function<void(Dialog&)> hook) {
  ShownHook() = std::move(hook);
}

int QtBinding::MessageSink(void*, const char* text, const char* caption, unsigned type) {
  const QString body = QString::fromUtf8(text != nullptr ? text : "");
  // Only the application's thread may show windows; a movie's threads print.
  if (qApp == nullptr || QThread::currentThread() != qApp->thread()) {
    std::fprintf(stderr, "%s\n", text != nullptr ? text : "");
    return IDOK;
  }
  QMessageBox box(IconOf(type),
                  caption != nullptr ? QString::fromUtf8(caption) : QStringLiteral("Error"), body,
                  QMessageBox::NoButton, QApplication::activeModalWidget());
  switch (type & 0xFu) {
    case MB_OKCANCEL:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      break;
    case MB_YESNO:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
    default:
      box.setStandardButtons(QMessageBox::Ok);
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Ok:
      return IDOK;
    case QMessageBox::Yes:
      return IDYES;
    case QMessageBox::No:
      return IDNO;
    case QMessageBox::Cancel:
      return IDCANCEL;
    default:
      // Closed without a button: a box with OK alone still answers OK.
      return (type & 0xFu) == MB_OK ? IDOK : IDCANCEL;
  }
}

}  // namespace norv::ui
