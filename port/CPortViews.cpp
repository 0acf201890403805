#include "CPortViews.h"

namespace {

CPortViews* g_views = nullptr;

} // namespace

void CPortViews::Install(CPortViews* views) {
    g_views = views;
}

CPortViews* CPortViews::Installed() {
    return g_views;
}
