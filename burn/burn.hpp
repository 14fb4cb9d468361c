// The burn worker: one firmware update from the Start command to its one final message.
#pragma once

#include "burn/update.hpp"
