// OrvaneBusSim out of process, as a client sees it.
#include <gtest/gtest.h>
