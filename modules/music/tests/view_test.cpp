// placeholder until the dialog test is written
#include <gtest/gtest.h>
