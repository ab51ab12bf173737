#pragma once
// Buddyedit: the dialog in which the signed-in user views, adds, changes and deletes the friends
// of the friends table.
#include "include/handvane/export.h"

// Shows the friends dialog of the signed-in user, signing in first (LOGIN_Login(user, null)) when
// nobody is; user may be empty or null. Returns 0 after the dialog, -1 when the sign-in failed
// (after saying so), when the signed-in id is empty, or when the dialog could not be shown.
HV_EXTERN_C int FMFriendsListMantance(const char* user);
