#pragma once
// The vendor's addresses, fixed when the program is built. They sit in util/
// because the start-up screen (ui/) shows the web address and the installer
// fetches the server list from the host.

// The vendor's web host (HOST[:PORT]) that serves /serverlist9.txt, unless the
// command line names another.
extern const char* const kVendorHost;
// The page that new_format opens: where a newer installer can be downloaded.
extern const char* const kVendorDownloadUrl;
