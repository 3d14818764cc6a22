#pragma once
// The server list, serverlist9.txt: the current release name and up to ten
// download servers, fetched from the vendor's web host at start-up, and the
// two ways of choosing a server from it.
#include <string>
#include <string_view>

#include "util/vendor.h"  // kVendorHost, kVendorDownloadUrl

// One fetch-and-read step, run by the driver on every pass while
// stg.num_servers is -1: polls download slot 0 for
// `vendor_host`/serverlist9.txt into temp_path; once the file is complete it
// is read (server table, install_name, num_servers) and a server is chosen
// with the biased pick. A list with a foreign header calls new_format.
// Unless --release_key=none, its signature serverlist9.txt.minisig follows in
// the same slot (a failed download of it is tried kSignatureTries times in
// all, then the signature counts as missing) and read_signed_server_list
// decides. Returns the poll's answer (http_class::net_check): 0 under way
// (the signature's retries included), 1 the list arrived and was read or
// refused, 2 the list's download failed (the next call starts it again).
// The disc installer reads dvd_path/serverlist9.txt (and its signature)
// instead, in one call that returns 1; without a disc num_servers becomes 0.
int server_list_step(const std::string& vendor_host);
constexpr int kSignatureTries = 3;
// Forgets a fetch in progress (a test starts afresh).
void server_list_fetch_reset();

// read_server_list for a signed list: the list is accepted only when
// `sig_path` (empty: no signature) verifies with a release key in force, its
// trusted comment names the list's FINAL release, and its time is not older
// than stg.release_time, which then becomes that time. Otherwise a log line
// names the reason, the globals stay unread (num_servers -1) and new_format
// is called. Returns true when accepted.
bool read_signed_server_list(const std::string& local_path, const std::string& sig_path);

// Reads a downloaded list at `local_path` into the globals and picks the
// starting server. Returns false (after new_format) when the file cannot be
// mapped or its header is not a version-820 "SERVERS" header.
bool read_server_list(const std::string& local_path);

// Reads the body records of a list (the bytes after the header) into the
// server table, install_name and num_servers; num_servers must be 0 on entry
// for a fresh table. Records beyond the tenth server are read and dropped, as
// are records cut short by the end of the data or naming a host or folder that
// the network layer would refuse.
void read_server_records(std::string_view body);

// The C library's rand folded into 0..32767, the range the picks are made for
// (glibc's RAND_MAX is far larger).
int rand_0_32767();

// Biased pick (start of the program and after a failed file download): servers
// early in the list are favoured. `r` is a draw in 0..32767.
int biased_server_pick(int num_servers, int r);
void pick_server_biased();

// Uniform pick (after a failed manifest download). `r` is a draw in 0..32767.
int uniform_server_pick(int num_servers, int r);
void pick_server_uniform();

// Tells the user that the installer is too old for the server's files, opens
// the vendor's download page and ends the program (step 2, app_done).
void new_format(const std::string& file_path);
