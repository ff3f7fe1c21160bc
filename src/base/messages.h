// Result codes of a run, the texts shown for them and the box captions.
#pragma once

enum {
    RESULT_DECLINED = -1,
    RESULT_SUCCESS = 0,
    RESULT_NO_MEMORY = 1,
    RESULT_BAD_SCRIPT = 2,
    RESULT_NO_DESTINATION = 3,
    RESULT_UPDATE_FAILED = 4,
    RESULT_LOCKED_FILE = 5,
    RESULT_GATE_REFUSED = 6,
    RESULT_NO_SPACE = 7,
    RESULT_BAD_PACKAGE = 8,
    RESULT_COUNT = 9
};

extern const char *const MessageTable[RESULT_COUNT];
extern const char CAPTION_CONFIRM[];
extern const char CAPTION_FINISHED[];
extern const char CAPTION_ERROR[];
