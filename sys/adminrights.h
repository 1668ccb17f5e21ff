// What the process's token says about administrator rights, which decide how the kit folder is
// protected (download/kitfolder.h).
#pragma once

// Asks the process's token whether Administrators is one of its enabled groups (a filtered token
// of Vista and later holds it for denial only, which does not count) and whether it is elevated.
// `elevated` is true where the system gives no answer to that (XP, which knows no elevation: an
// administrator's token holds its rights as it is). False, both answers false, when the token
// can't be asked.
bool queryAdministratorToken(bool* administratorsMember, bool* elevated);
