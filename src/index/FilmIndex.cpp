#include "index/FilmIndex.h"

#include <algorithm>

const TPreview* TFilmIndex::PreviewAt(int64_t ms) const {
  if (Previews.empty()) return nullptr;
  // The first preview after `ms`; the one before it is the answer, if there is one.
  const auto after = std::upper_bound(Previews.begin(), Previews.end(), ms,
                                      [](int64_t t, const TPreview& p) { return t < p.TimeMs; });
  return after == Previews.begin() ? &*after : &*(after - 1);
}

const TIdleStretch* TFilmIndex::IdleAt(int64_t ms) const {
  // The first stretch that ends after `ms`; it holds `ms` when it starts at or before it.
  const auto it = std::upper_bound(Idle.begin(), Idle.end(), ms,
                                   [](int64_t t, const TIdleStretch& s) { return t < s.EndMs; });
  return it != Idle.end() && it->StartMs <= ms ? &*it : nullptr;
}
