// Undoes something when a scope ends, on every way out (a return or an exception):
//   const auto restore = OnScopeExit([&] { reader.OnCopyFile = nullptr; });
#pragma once

#include <utility>

template <typename TAction>
class TScopeGuard {
 public:
  explicit TScopeGuard(TAction action) : FAction(std::move(action)) {}
  ~TScopeGuard() { FAction(); }
  TScopeGuard(const TScopeGuard&) = delete;
  TScopeGuard& operator=(const TScopeGuard&) = delete;

 private:
  TAction FAction;
};

template <typename TAction>
[[nodiscard]] TScopeGuard<TAction> OnScopeExit(TAction action) {
  return TScopeGuard<TAction>(std::move(action));
}
