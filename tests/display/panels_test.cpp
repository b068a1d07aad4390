#include "display/panels.h"
#include <gtest/gtest.h>
TEST(Panels, Placeholder) {}
