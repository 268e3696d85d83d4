// Texts a host offers for an edit field of the program's windows, e.g. the
// names of the Servers found on the network for the host field. The field
// stays the program's edit control (same identifier, place and size, same
// tab stop): it completes what the user types from the texts and gets an
// arrow button inside its frame that drops the whole list down. A text the
// user chooses reaches the window system as if typed.
//
// Thread contract: OfferSuggestions on the user-interface thread before the
// window with the field is made; the source is called on that thread too,
// about once a second, and must return promptly.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace twqt {

using SuggestionSource = std::function<std::vector<std::string>()>;

// For the edit fields with control identifier id; an empty source removes
// the offer.
void OfferSuggestions(int id, SuggestionSource source);
// The source for id, empty when there is none.
SuggestionSource SuggestionsFor(int id);

}  // namespace twqt
