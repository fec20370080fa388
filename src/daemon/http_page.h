#pragma once

namespace parlix {

/// The status page parlixd serves at "/": one self-contained HTML document that reads
/// /v1/status every five seconds and draws it. It loads nothing from elsewhere.
extern const char* const kStatusPage;

}  // namespace parlix
