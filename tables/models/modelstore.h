#pragma once
// Modelstore: the phone models the suite knows, the PHONE table of the shipped DATA folder, loaded
// into memory once. Every function accepts a null handle (-1, or nothing for PLClose).
#include "include/handvane/export.h"
#include "include/handvane/records.h"

// The handle PLOpen returns; the caller owns it until PLClose.
class ModelList;

// Loads DATA/PHONE.DBF of the suite's home; null when the table cannot be read.
HV_EXTERN_C ModelList* PLOpen();
HV_EXTERN_C int PLGetCount(ModelList* list);
HV_EXTERN_C int PLGetInfo(ModelList* list, int index, hv::ModelRecord* out);
// The first model whose phone type equals phoneType exactly (case-sensitive).
HV_EXTERN_C int PLGetInfoWithPhoneType(ModelList* list, const char* phoneType,
                                       hv::ModelRecord* out);
HV_EXTERN_C void PLClose(ModelList* list);
