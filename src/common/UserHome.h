#pragma once
// The user's home, from which Qt places the per-user data and settings
// folders. Qt takes it from HOME alone and, without one, uses the root folder:
// a run under `env -i` or a bare cron job would write root's logs to /.local.

namespace zandrel {

// When HOME is unset or empty, sets it to the effective user's home from the
// user database, at start-up before anything asks Qt for a per-user folder.
// A home of "/", or none, leaves HOME unset.
void TakeHomeFromUserDatabase();

}  // namespace zandrel
