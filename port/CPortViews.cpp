#include "CPortViews.h"

#include <optional>

namespace {

std::optional<CPortViews> g_views;

} // namespace

void CPortViews::Install(const CPortViews& views) {
    g_views = views;
}

const CPortViews* CPortViews::Installed() {
    return g_views ? &*g_views : nullptr;
}
