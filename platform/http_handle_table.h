// A stack's handle table: the numbers handed to the caller and the objects behind them, closed in
// any order.
#pragma once

#include "platform/http_stack.h"

#include <cstddef>
#include <map>
#include <memory>
#include <utility>

namespace quillore {

// `Base` has a virtual destructor; Find tells its kinds apart.
template <typename Base> class HttpHandleTable {
public:
  // A new handle, never 0 and never one given before.
  HttpHandle Add(std::unique_ptr<Base> object) {
    HttpHandle handle = next_++;
    objects_.emplace(handle, std::move(object));
    return handle;
  }
  // The object of an open handle when it is a T; null otherwise.
  template <typename T> T* Find(HttpHandle handle) const {
    auto it = objects_.find(handle);
    return it == objects_.end() ? nullptr : dynamic_cast<T*>(it->second.get());
  }
  // False when the handle is not open.
  bool Close(HttpHandle handle) { return objects_.erase(handle) == 1; }
  std::size_t Size() const { return objects_.size(); }

private:
  std::map<HttpHandle, std::unique_ptr<Base>> objects_;
  HttpHandle next_ = 1;
};

} // namespace quillore
