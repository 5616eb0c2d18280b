// Merging the cookies a request sent with the cookies its answer set.
#pragma once

#include "util/text.h"

namespace quillore {

// The server's pairs first, in its order, then the old pairs it did not name; "=deleted" pairs and
// byte-identical repeats dropped. Both inputs are normalised in place; the result is also stored
// into oldCookies.
Text MergeCookies(Text& oldCookies, Text& newCookies);
// The name of a pair: the bytes before its first "=", blanks trimmed (the whole pair without "=").
Text CookieName(const Text& pair);
// True when a pair of the list has exactly that name.
bool HasCookieNamed(const TextList& list, const Text& name);
// The items of `text` split at `separator`, each first occurrence kept, joined again.
Text RemoveDuplicateItems(const Text& text, const Text& separator);
// 1-based index of the first element byte-equal to item, or -1.
int IndexOfItem(const TextList& list, const Text& item);

} // namespace quillore
