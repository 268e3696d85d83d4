#include "platform/qt/field_suggestions.h"

#include <map>

namespace twqt {
namespace {

// User-interface thread only.
std::map<int, SuggestionSource>& Sources() {
  static std::map<int, SuggestionSource> sources;
  return sources;
}

}  // namespace

void OfferSuggestions(int id, SuggestionSource source) {
  if (source) {
    Sources()[id] = std::move(source);
  } else {
    Sources().erase(id);
  }
}

SuggestionSource SuggestionsFor(int id) {
  auto found = Sources().find(id);
  return found != Sources().end() ? found->second : SuggestionSource();
}

}  // namespace twqt
