#pragma once
// The standard modal dialogs with plain results: a message box, file choosers, a colour chooser
// and a folder chooser. Each is application-modal: the program's other windows do not react while
// it is open and are back as they were afterwards; the dialog opens above windows that stay on
// top. Main thread only.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lunadio {

// messageRequester flags: buttons (low 4 bits), icon, default button.
enum MessageRequesterFlags : int {
  MessageOk = 0,
  MessageOkCancel = 1,
  MessageAbortRetryIgnore = 2,
  MessageYesNoCancel = 3,
  MessageYesNo = 4,
  MessageRetryCancel = 5,
  MessageIconError = 0x10,
  MessageIconQuestion = 0x20,
  MessageIconWarning = 0x30,
  MessageIconInformation = 0x40,
  MessageDefaultButton2 = 0x100,
  MessageDefaultButton3 = 0x200,
};

// messageRequester results.
enum RequesterResult : int {
  RequesterOk = 1,
  RequesterCancel = 2,
  RequesterAbort = 3,
  RequesterRetry = 4,
  RequesterIgnore = 5,
  RequesterYes = 6,
  RequesterNo = 7,
};

// The code of the button pressed. Closing the box without a button gives Cancel where the box has
// one, else OK for a lone OK button, else No (never the answer that acts). 0 when the box cannot
// be shown (no memory for it).
int messageRequester(std::u16string_view title, std::u16string_view text, int flags = 0);

// fileRequester mode and flag.
inline constexpr int FileRequesterSave = 1;
inline constexpr int FileRequesterMultiple = 1;

// `pattern` is "label|patterns|label|patterns" with patterns separated by ";"; `patternPosition`
// picks the pair shown first. `defaultFile` gives the starting folder (the part before its last
// "\" or "/") and the name field (the part after it, when that is a valid file name). Returns the
// chosen full path, "" on cancel. With FileRequesterMultiple the first chosen path is returned and
// nextSelectedFileName() gives the others.
std::u16string openFileRequester(std::u16string_view title, std::u16string_view defaultFile,
                                 std::u16string_view pattern, int patternPosition);
std::u16string fileRequester(std::u16string_view title, std::u16string_view defaultFile,
                             std::u16string_view pattern, int patternPosition, int mode, int flags);
// The next path of the last multiple selection, "" when none is left.
std::u16string nextSelectedFileName();
// The position of the pattern pair the user had picked in the last file chooser.
int selectedFilePattern();

// What colorRequester() gives when the user cancels; no chosen colour has this value.
inline constexpr std::int32_t ColorRequesterCancelled = -1;
// Opens at `initial` (red + 256 green + 65536 blue; -1 means black) and gives the chosen colour
// in the same form, or ColorRequesterCancelled.
std::int32_t colorRequester(std::int32_t initial = -1);

// The chosen folder ending with "/", "" on cancel.
std::u16string pathRequester(std::u16string_view title, std::u16string_view initialPath);

// -- test hook: answering requesters without a person

enum class RequesterAnswerKind { Button, Paths, Colour, Cancel };

struct RequesterAnswer {
  RequesterAnswerKind kind = RequesterAnswerKind::Cancel;
  int button = 0;                     // Button: a RequesterResult
  std::vector<std::u16string> paths;  // Paths: the chosen file(s), or the folder
  std::int32_t colour = 0;            // Colour
  // Runs while the requester is on screen, just before it is answered.
  std::function<void()> whileShown;

  static RequesterAnswer pressButton(int result) {
    RequesterAnswer answer;
    answer.kind = RequesterAnswerKind::Button;
    answer.button = result;
    return answer;
  }
  static RequesterAnswer choosePaths(std::vector<std::u16string> chosen) {
    RequesterAnswer answer;
    answer.kind = RequesterAnswerKind::Paths;
    answer.paths = std::move(chosen);
    return answer;
  }
  static RequesterAnswer chooseColour(std::int32_t value) {
    RequesterAnswer answer;
    answer.kind = RequesterAnswerKind::Colour;
    answer.colour = value;
    return answer;
  }
  static RequesterAnswer cancel() { return {}; }
};

// Queues an answer: the next requester opens as usual, then answers itself with it (in the order
// queued) instead of waiting for a person. A Button answer naming a button the box lacks closes
// it as a person would.
void answerNextRequester(RequesterAnswer answer);
void clearRequesterAnswers();

}  // namespace lunadio
