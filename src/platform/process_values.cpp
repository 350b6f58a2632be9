#include "platform/process_values.h"

int32_t RunMode = kSnapshotMode;
PathBuffer SnapshotPath;
PathBuffer UserStartMenu;
PathBuffer AllUsersStartMenu;
int32_t UserStartMenuLength = 0;
