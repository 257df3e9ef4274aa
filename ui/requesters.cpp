#include "ui/requesters.h"

#include "core/no_throw.h"

#include <QAbstractButton>
#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>

#include <deque>
#include <optional>
#include <utility>

#include "ui/requesters_internal.h"
#include "ui/requesters_paths.h"

namespace lunadio {
namespace ui {
namespace {

// The name field holds at most this many characters, as the chooser's buffers did.
constexpr int kMaxNameChars = 259;
constexpr int kMaxMultipleNameChars = 511999;

struct RequesterState {
  // -- main thread only
  std::deque<RequesterAnswer> answers;
  RequesterTrace trace;
  QStringList pendingSelection;
  int selectedPattern = 0;
};

RequesterState& state() {
  static RequesterState requesters;
  return requesters;
}

QString toQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}
std::u16string toU16(const QString& text) { return text.toStdU16String(); }

std::optional<RequesterAnswer> takeAnswer() {
  auto& answers = state().answers;
  if (answers.empty()) return std::nullopt;
  RequesterAnswer answer = std::move(answers.front());
  answers.pop_front();
  return answer;
}

bool anyWindowStaysOnTop() {
  for (const QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() && (widget->windowFlags() & Qt::WindowStaysOnTopHint)) return true;
  }
  return false;
}

// Shows the dialog modally over the program's windows. Qt's application modality keeps the other
// windows from reacting and hands them back unchanged; the dialog itself stays on top when any of
// them does, so it never opens hidden beneath one. A queued answer is applied once the dialog is
// up; `apply` must close it.
template <class Apply>
int runModal(QDialog& dialog, std::optional<RequesterAnswer>& answer, Apply apply) {
  dialog.setWindowModality(Qt::ApplicationModal);
  if (anyWindowStaysOnTop()) dialog.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  auto& trace = state().trace;
  trace.title = dialog.windowTitle();
  trace.applicationModal = dialog.windowModality() == Qt::ApplicationModal;
  trace.staysOnTop = (dialog.windowFlags() & Qt::WindowStaysOnTopHint) != 0;
  if (answer) {
    QTimer::singleShot(0, &dialog, [&dialog, &answer, &apply] {
      if (answer->whileShown) answer->whileShown();
      if (dialog.isVisible()) apply(*answer);
    });
  }
  return dialog.exec();
}

QWidget* ownerWindow() { return QApplication::activeWindow(); }

struct MessageButton {
  QMessageBox::StandardButton button;
  int result;
};

std::vector<MessageButton> buttonsFor(int flags) {
  switch (flags & 0xF) {
    case MessageOkCancel:
      return {{QMessageBox::Ok, RequesterOk}, {QMessageBox::Cancel, RequesterCancel}};
    case MessageAbortRetryIgnore:
      return {{QMessageBox::Abort, RequesterAbort},
              {QMessageBox::Retry, RequesterRetry},
              {QMessageBox::Ignore, RequesterIgnore}};
    case MessageYesNoCancel:
      return {{QMessageBox::Yes, RequesterYes},
              {QMessageBox::No, RequesterNo},
              {QMessageBox::Cancel, RequesterCancel}};
    case MessageYesNo:
      return {{QMessageBox::Yes, RequesterYes}, {QMessageBox::No, RequesterNo}};
    case MessageRetryCancel:
      return {{QMessageBox::Retry, RequesterRetry}, {QMessageBox::Cancel, RequesterCancel}};
    default:
      return {{QMessageBox::Ok, RequesterOk}};
  }
}

QMessageBox::Icon iconFor(int flags) {
  switch (flags & 0xF0) {
    case MessageIconError:
      return QMessageBox::Critical;
    case MessageIconQuestion:
      return QMessageBox::Question;
    case MessageIconWarning:
      return QMessageBox::Warning;
    case MessageIconInformation:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

// What closing the box without pressing a button means: never the answer that acts.
int closedResult(const std::vector<MessageButton>& buttons) {
  for (int preferred : {RequesterCancel, RequesterOk, RequesterNo}) {
    for (const auto& b : buttons) {
      if (b.result == preferred) return preferred;
    }
  }
  return RequesterCancel;
}

}  // namespace

const RequesterTrace& lastRequesterTrace() { return state().trace; }

void loadRequesterTranslations() {
  noThrow([&] {
    // Tried once an application object exists, whether at start or at the first requester.
    static QTranslator translator;
    static bool attempted = false;
    if (attempted || !QCoreApplication::instance()) return;
    attempted = true;
    if (translator.load(QLocale::system(), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
      QCoreApplication::installTranslator(&translator);
    }
  });
}

}  // namespace ui

int messageRequester(std::u16string_view title, std::u16string_view text, int flags) {
  return noThrow(0, [&]() -> int {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return 0;
    ui::loadRequesterTranslations();
    auto answer = ui::takeAnswer();
    const auto buttons = ui::buttonsFor(flags);
    QMessageBox box(ui::iconFor(flags), ui::toQString(title), ui::toQString(text),
                    QMessageBox::NoButton, ui::ownerWindow());
    std::vector<std::pair<QAbstractButton*, int>> made;
    for (const auto& b : buttons) made.emplace_back(box.addButton(b.button), b.result);
    const std::size_t defaultIndex = static_cast<std::size_t>((flags >> 8) & 3);
    box.setDefaultButton(
        qobject_cast<QPushButton*>(made[std::min(defaultIndex, made.size() - 1)].first));
    const int closed = ui::closedResult(buttons);
    for (const auto& [button, result] : made) {
      if (result == closed) box.setEscapeButton(button);
    }

    ui::runModal(box, answer, [&box, &made](const RequesterAnswer& a) {
      QAbstractButton* target = nullptr;
      for (const auto& [button, result] : made) {
        if (a.kind == RequesterAnswerKind::Button && result == a.button) target = button;
      }
      if (!target) target = box.escapeButton();
      if (target) {
        target->click();
      } else {
        box.done(QDialog::Rejected);
      }
    });
    for (const auto& [button, result] : made) {
      if (button == box.clickedButton()) return result;
    }
    return closed;
  });
}

std::u16string openFileRequester(std::u16string_view title, std::u16string_view defaultFile,
                                 std::u16string_view pattern, int patternPosition) {
  return noThrow(std::u16string(), [&]() -> std::u16string {
    return fileRequester(title, defaultFile, pattern, patternPosition, 0, 0);
  });
}

std::u16string fileRequester(std::u16string_view title, std::u16string_view defaultFile,
                             std::u16string_view pattern, int patternPosition, int mode,
                             int flags) {
  return noThrow(std::u16string(), [&]() -> std::u16string {
    auto& s = ui::state();
    s.pendingSelection.clear();
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return {};
    ui::loadRequesterTranslations();
    auto answer = ui::takeAnswer();
    const bool save = mode == FileRequesterSave;
    const bool multiple = !save && (flags & FileRequesterMultiple);

    QFileDialog dialog(ui::ownerWindow(), ui::toQString(title));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile
                            : (multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile));
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    if (answer) dialog.setOption(QFileDialog::DontUseNativeDialog);
    const QStringList filters = ui::filtersFromPattern(pattern);
    if (!filters.isEmpty()) {
      dialog.setNameFilters(filters);
      if (patternPosition >= 0 && patternPosition < filters.size()) {
        dialog.selectNameFilter(filters[patternPosition]);
      }
    }
    const ui::DefaultFile start =
        ui::splitDefaultFile(defaultFile, multiple ? ui::kMaxMultipleNameChars : ui::kMaxNameChars);
    if (!start.folder.isEmpty()) dialog.setDirectory(start.folder);
    if (!start.name.isEmpty()) dialog.selectFile(start.name);

    s.trace = {};
    s.trace.directory = dialog.directory().absolutePath();
    s.trace.fileName = start.name;
    s.trace.filters = filters;
    s.trace.selectedFilter = ui::filterIndex(filters, dialog.selectedNameFilter());

    const int result = ui::runModal(dialog, answer, [&dialog](const RequesterAnswer& a) {
      const bool chosen = a.kind == RequesterAnswerKind::Paths && !a.paths.empty();
      static_cast<QDialog&>(dialog).done(chosen ? QDialog::Accepted : QDialog::Rejected);
    });
    if (result != QDialog::Accepted) return {};

    QStringList chosen;
    if (answer) {
      for (const auto& path : answer->paths) chosen << ui::toQString(path);
    } else {
      chosen = dialog.selectedFiles();
    }
    const int picked = ui::filterIndex(filters, dialog.selectedNameFilter());
    if (picked >= 0) s.selectedPattern = picked;
    if (chosen.isEmpty()) return {};
    if (multiple) s.pendingSelection = chosen.mid(1);
    return ui::toU16(chosen.first());
  });
}

std::u16string nextSelectedFileName() {
  return noThrow(std::u16string(), [&]() -> std::u16string {
    auto& pending = ui::state().pendingSelection;
    if (pending.isEmpty()) return {};
    return ui::toU16(pending.takeFirst());
  });
}

int selectedFilePattern() { return ui::state().selectedPattern; }

std::int32_t colorRequester(std::int32_t initial) {
  return noThrow(-1, [&]() -> std::int32_t {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return -1;
    ui::loadRequesterTranslations();
    auto answer = ui::takeAnswer();
    if (initial == -1) initial = 0;
    const QColor start(initial & 0xFF, (initial >> 8) & 0xFF, (initial >> 16) & 0xFF);
    QColorDialog::setCustomColor(0, start);
    QColorDialog dialog(start, ui::ownerWindow());
    if (answer) dialog.setOption(QColorDialog::DontUseNativeDialog);
    ui::state().trace = {};
    ui::state().trace.startColour = dialog.currentColor();
    const int result = ui::runModal(dialog, answer, [&dialog](const RequesterAnswer& a) {
      if (a.kind != RequesterAnswerKind::Colour) {
        dialog.reject();
        return;
      }
      dialog.setCurrentColor(
          QColor(a.colour & 0xFF, (a.colour >> 8) & 0xFF, (a.colour >> 16) & 0xFF));
      dialog.accept();
    });
    if (result != QDialog::Accepted) return ColorRequesterCancelled;
    const QColor chosen = dialog.selectedColor();
    return chosen.red() | chosen.green() << 8 | chosen.blue() << 16;
  });
}

std::u16string pathRequester(std::u16string_view title, std::u16string_view initialPath) {
  return noThrow(std::u16string(), [&]() -> std::u16string {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return {};
    ui::loadRequesterTranslations();
    auto answer = ui::takeAnswer();
    QFileDialog dialog(ui::ownerWindow(), ui::toQString(title));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (answer) dialog.setOption(QFileDialog::DontUseNativeDialog);
    const QString start = ui::localFolder(ui::toQString(initialPath));
    if (!start.isEmpty()) dialog.setDirectory(start);
    ui::state().trace = {};
    ui::state().trace.directory = dialog.directory().absolutePath();

    const int result = ui::runModal(dialog, answer, [&dialog](const RequesterAnswer& a) {
      const bool chosen = a.kind == RequesterAnswerKind::Paths && !a.paths.empty();
      static_cast<QDialog&>(dialog).done(chosen ? QDialog::Accepted : QDialog::Rejected);
    });
    if (result != QDialog::Accepted) return {};
    QString folder =
        answer ? ui::toQString(answer->paths.front()) : dialog.selectedFiles().value(0);
    if (folder.isEmpty()) return {};
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return ui::toU16(folder);
  });
}

void answerNextRequester(RequesterAnswer answer) {
  ui::state().answers.push_back(std::move(answer));
}

void clearRequesterAnswers() { ui::state().answers.clear(); }

}  // namespace lunadio
