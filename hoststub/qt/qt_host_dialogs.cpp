#include "hoststub/qt/qt_host_dialogs.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSpinBox>
#include <QVBoxLayout>
#include <climits>
#include <cstring>
#include <string>

#include "hoststub/norv_host.h"
#include "platform/ui/qt/qt_binding.h"
#include "plugin/host/host_api.h"

namespace norv::host {
namespace {

using norv::ui::QtBinding;

constexpr int kHardwareWords = 17;
constexpr std::size_t kPathBuffer = 260;

QSpinBox* ValueField(QWidget* parent, const char* name, std::int32_t value) {
  auto* field = new QSpinBox(parent);
  field->setObjectName(QString::fromLatin1(name));
  // The record's words are 32-bit; no value that one holds is refused.
  field->setRange(INT_MIN, INT_MAX);
  field->setValue(value);
  return field;
}

// OK and Cancel under a form; true when the user pressed OK.
bool RunForm(QDialog& dialog, QLayout* form) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addLayout(form);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  return dialog.exec() == QDialog::Accepted;
}

void Cropping(void*, std::int32_t* left, std::int32_t* top, std::int32_t* right,
              std::int32_t* bottom, HWND owner) {
  QDialog dialog(QtBinding::ParentFor(owner));
  dialog.setWindowTitle(QStringLiteral("Cropping"));
  std::int32_t* values[4] = {left, top, right, bottom};
  const char* labels[4] = {"Left:", "Top:", "Right:", "Bottom:"};
  auto* form = new QFormLayout;
  QSpinBox* fields[4];
  for (int i = 0; i < 4; ++i) {
    fields[i] = ValueField(&dialog, kCropFieldNames[i], *values[i]);
    form->addRow(QString::fromLatin1(labels[i]), fields[i]);
  }
  if (!RunForm(dialog, form)) return;
  for (int i = 0; i < 4; ++i) *values[i] = fields[i]->value();
}

void HardwareOptions(void*, std::int32_t* options) {
  QDialog dialog(QtBinding::ParentFor(nullptr));
  dialog.setWindowTitle(QStringLiteral("Hardware Options"));
  auto* grid = new QGridLayout;
  QSpinBox* fields[kHardwareWords];
  for (int i = 0; i < kHardwareWords; ++i) {
    const std::string name = "option" + std::to_string(i);
    fields[i] = ValueField(&dialog, name.c_str(), options[i]);
    const int row = i % 9;
    const int column = (i / 9) * 2;
    grid->addWidget(new QLabel(QStringLiteral("Option %1:").arg(i + 1), &dialog), row, column);
    grid->addWidget(fields[i], row, column + 1);
  }
  if (!RunForm(dialog, grid)) return;
  for (int i = 0; i < kHardwareWords; ++i) options[i] = fields[i]->value();
}

std::int32_t PresetPath(void*, std::int32_t mode, char* path, const char* extension, HWND owner) {
  const bool load = mode == 1;
  const QString suffix = QString::fromUtf8(extension != nullptr ? extension : "");
  QFileDialog chooser(QtBinding::ParentFor(owner),
                      load ? QStringLiteral("Load Preset") : QStringLiteral("Save Preset"));
  chooser.setOption(QFileDialog::DontUseNativeDialog);
  chooser.setAcceptMode(load ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  chooser.setFileMode(load ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  chooser.setNameFilter(QStringLiteral("Preset (*%1)").arg(suffix));
  chooser.setDefaultSuffix(suffix.startsWith(u'.') ? suffix.mid(1) : suffix);
  char folder[kPathBuffer] = {};
  GetHostFolder(folder);
  chooser.setDirectory(QFile::decodeName(folder) + QStringLiteral("SAMPLES"));
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return 0;
  const QByteArray chosen = QFile::encodeName(chooser.selectedFiles().front());
  if (chosen.isEmpty() || static_cast<std::size_t>(chosen.size()) >= kPathBuffer) return 0;
  std::memcpy(path, chosen.constData(), static_cast<std::size_t>(chosen.size()) + 1);
  return 1;
}

// The host's rule: a window it is asked to place stands centred on its parent.
void Position(void*, HWND window) {
  QWidget* widget = QtBinding::WidgetOf(window);
  if (widget == nullptr) return;
  QRect area;
  if (QWidget* parent = widget->parentWidget()) {
    area = parent->window()->frameGeometry();
  } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
    area = screen->availableGeometry();
  }
  if (area.isEmpty()) return;
  const QSize size = widget->sizeHint().expandedTo(widget->size());
  widget->move(area.center().x() - size.width() / 2, area.center().y() - size.height() / 2);
}

}  // namespace

QtHostDialogs::QtHostDialogs() {
  const NorvHostDialogs dialogs{nullptr, &Cropping, &HardwareOptions, &PresetPath, &Position};
  NorvHostSetDialogs(&dialogs);
}

QtHostDialogs::~QtHostDialogs() {
  NorvHostSetDialogs(nullptr);
}

}  // namespace norv::host
