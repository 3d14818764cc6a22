#pragma once
// Platform dialogs and shell: message box, opening a web address.
#include <string>

// A modal message box with an information icon. Returns false when no
// message box could be shown (no display).
bool platform_message_box(const std::string& title, const std::string& text);

// Hands a web address or document to the desktop to open.
bool platform_open_url(const std::string& url);
