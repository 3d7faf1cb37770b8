#include "store/waveform_store.h"
