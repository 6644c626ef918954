#pragma once

namespace qm {

// The product's version ("1.3") and the maker's web address, both set by the build: the
// version from the project, the address by the packager's option QM_WEBSITE.
inline constexpr char kVersion[] = QM_VERSION;
inline constexpr char kWebsite[] = QM_WEBSITE;

}  // namespace qm
