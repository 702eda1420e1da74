// mail.ini: the six option flags and the accounts, in the section "Mail" of
// the file config_path() names. User-interface thread only.
#pragma once

#include <string>
#include <string_view>

// Reads the file into the option flags and account_table. A missing file or
// section, and no file at all (no plug-in directory), read as empty. Lines
// that cannot be understood are skipped; a number is read as far as its
// digits go (0 without any); an account without a user name, a password or a
// host name is dropped.
// Returns false, with `error` naming the file, when the file exists but
// cannot be read; then nothing changes.
bool load_config(std::string* error = nullptr);

// Rewrites the section "Mail" from the option flags and account_table and
// keeps the rest of the file. The file is replaced in one step: on failure
// the previous file stays as it was and false is returned with `error`
// naming the file and the reason (the caller decides how to tell the user).
// Without a plug-in directory nothing is written.
bool save_config(std::string* error = nullptr);

// Three decimal digits per password byte: the byte XOR a byte of
// PASSWORD_KEY, the first password byte paired with the key's second.
std::string scramble_password(const std::string& password);
// The reverse; a trailing group of one or two digits is ignored, and a
// group that is not a number ends the password.
std::string unscramble_password(std::string_view digits);
