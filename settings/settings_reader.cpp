#include "settings/settings_reader.h"
