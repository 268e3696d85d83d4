#include "core/app_state.h"

// The one instance. currentHeader starts as "BOGUSSTR" and zeros (its
// constructor), every other field as app_state.h gives it.
AppState appState;
