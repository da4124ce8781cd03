// Requests a browser on another site could send with the session cookie.
#ifndef TOLVANE_CROSSSITE_H
#define TOLVANE_CROSSSITE_H

#include <string_view>

struct CrossSiteFacts {
    std::string_view method;    // as handled (after any override)
    bool multipartRoad = false; // the request came as a multipart form
    const char* contentType = nullptr;
    const char* origin = nullptr;
    const char* host = nullptr;
    const char* secFetchSite = nullptr;
};

// Whether a request authenticated by the session cookie alone may change
// state: POST and PATCH need the content type of their road (JSON, or a
// multipart form for uploads), which a cross-site form cannot send with a
// JSON road and which needs the page's own script otherwise; any request
// with an Origin needs one naming the Host it was sent to; a browser that
// says the request is cross-site is believed. GET and HEAD change nothing.
bool cookieRequestAllowed(const CrossSiteFacts& facts);

#endif
