#include "util/cookies.h"

#include <string_view>
#include <unordered_set>

namespace quillore {

namespace {

const Text kSeparator = "; ";
const Text kDeleted = "=deleted";

Text Normalise(const Text& cookies) {
  Text result = Trim(cookies);
  if (!result.empty() && result.back() == ';') {
    result += ' ';
  }
  return result;
}

// Joins the items with the separator (none after the last).
Text Join(const TextList& items, const Text& separator) {
  Text result;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) {
      result += separator;
    }
    result += items[i];
  }
  return result;
}

} // namespace

Text CookieName(const Text& pair) {
  int equals = Find(pair, "=");
  return Trim(equals == -1 ? pair : Left(pair, equals - 1));
}

bool HasCookieNamed(const TextList& list, const Text& name) {
  std::string_view wanted = View(name);
  for (const Text& pair : list) {
    if (CookieName(pair) == wanted) {
      return true;
    }
  }
  return false;
}

int IndexOfItem(const TextList& list, const Text& item) {
  std::string_view wanted = View(item);
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (View(list[i]) == wanted) {
      return static_cast<int>(i) + 1;
    }
  }
  return -1;
}

// Sets stand in for the linear look-ups, with the same outcome: cookie texts come from servers,
// and a hostile one must not make the merge quadratic.
Text RemoveDuplicateItems(const Text& text, const Text& separator) {
  std::unordered_set<std::string_view> seen;
  TextList items = Split(text, separator);
  TextList kept;
  for (const Text& item : items) {
    if (seen.insert(item).second) {
      kept.push_back(item);
    }
  }
  return Join(kept, Text(View(separator)));
}

Text MergeCookies(Text& oldCookies, Text& newCookies) {
  oldCookies = Normalise(oldCookies);
  newCookies = Normalise(newCookies);
  TextList oldPairs = Split(oldCookies, kSeparator);
  TextList merged = Split(newCookies, kSeparator);
  std::unordered_set<Text> names;
  for (const Text& pair : merged) {
    names.insert(CookieName(pair));
  }
  // An old pair is kept only when no pair with its name is there yet, counting old pairs already
  // kept: of two old pairs with one name only the first survives.
  for (const Text& pair : oldPairs) {
    if (names.insert(CookieName(pair)).second) {
      merged.push_back(pair);
    }
  }
  TextList live;
  for (const Text& pair : merged) {
    bool deleted = pair.size() >= kDeleted.size() &&
                   pair.compare(pair.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0;
    if (!deleted) {
      live.push_back(pair);
    }
  }
  oldCookies = RemoveDuplicateItems(Join(live, kSeparator), kSeparator);
  return oldCookies;
}

} // namespace quillore
