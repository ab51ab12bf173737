#pragma once
// Buddystore: the user's friends, kept in the dBase table FRIENDS.DBF of the user's folder. The
// whole table is loaded when it is opened; lookups are answered from memory and every change goes
// straight through to the file with one SQL statement.
//
// Results: 0 (or an index or count) for success, -1 for a missing entry or a refused change, -2
// when the table file could not be changed. Every function accepts a null handle.
#include "include/handvane/export.h"
#include "include/handvane/records.h"

// The handle FLOpen returns; the caller owns it until FLClose.
class FriendsTable;

inline constexpr int kFLRefused = -1;
inline constexpr int kFLDatabaseError = -2;

// Opens FRIENDS.DBF in folder (relative to the suite's home, e.g. the user id). Null when the
// folder or the table is missing or cannot be read.
HV_EXTERN_C FriendsTable* FLOpen(const char* folder);
HV_EXTERN_C void FLClose(FriendsTable* table);
// Number of entries, deleted ones included (a deleted friend leaves an empty entry).
HV_EXTERN_C int FLGetCount(FriendsTable* table);
HV_EXTERN_C int FLGetInfo(FriendsTable* table, int index, hv::FriendRecord* out);
// The first friend whose number equals phone byte for byte.
HV_EXTERN_C int FLGetInfoWithPhone(FriendsTable* table, const char* phone, hv::FriendRecord* out);
// The new entry's index; -1 when the number is present already.
HV_EXTERN_C int FLAddInfo(FriendsTable* table, const hv::FriendRecord* record);
// -1 when the entry is empty or the record's number differs from the stored one.
HV_EXTERN_C int FLModifyInfo(FriendsTable* table, int index, const hv::FriendRecord* record);
HV_EXTERN_C int FLDelInfo(FriendsTable* table, int index);
