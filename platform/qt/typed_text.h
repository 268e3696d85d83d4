// Text the user types into a field reaches the window system as typed
// characters and comes back as one report per character, each showing the
// text so far. While the user's latest text is on its way, those reports are
// older than what the field shows, and showing them would undo keystrokes.
#pragma once

#include <QString>

#include <optional>

namespace twqt {

class TypedText {
 public:
  // The user's text has been handed to the window system.
  void Sent(const QString& text) { awaited_ = text; }
  // The window system refused it.
  void Refused() { awaited_.reset(); }
  // Whether a reported text is to be shown. The report of the user's latest
  // text ends the wait; a report that is not on the way to it (not a
  // beginning of it) was made by someone else, and is shown.
  bool ShouldShow(const QString& reported);

 private:
  std::optional<QString> awaited_;
};

}  // namespace twqt
