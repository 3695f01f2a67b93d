#include "job/candidates.h"

#include "job/plan.h"

namespace df::setup {

std::vector<FileSource> Candidates::sources_for(const ManifestFile& entry) const {
    const std::string address = relative_address(entry);
    std::vector<FileSource> sources;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const ReleaseInfo& c : records_) {
        if (c.source == Source::github && (entry.asset.empty() || !offers_asset(c, address))) continue;
        std::string packed;
        if (entry.packed && offers_asset(c, entry.packed->asset)) packed = asset_url(c, entry.packed->asset);
        sources.push_back(FileSource{c.source, asset_url(c, address), std::move(packed), c.patient ? 4 : 2});
    }
    return sources;
}

std::vector<Source> Candidates::order() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Source> out;
    for (const ReleaseInfo& c : records_) out.push_back(c.source);
    return out;
}

void Candidates::demote(Source source) {
    std::lock_guard<std::mutex> lock(mutex_);
    df::setup::demote(records_, source);
}

}  // namespace df::setup
