// A room's settings as memory holds them: what dir.cnf and info.txt say of
// the room the request is for (roomconf/dir_cnf.h is their store and loader).
#pragma once
#include <cstdint>

struct DIR_CONFIG {
    int32_t ATTACH_MAX;
    char INFO[252];
    char TITLEPIC[252];
    char BACKPIC1[252];
    char FONTCOLOR1[8];
    char FRAMESET1[8];
    char BACKPIC2[252];
    char FONTCOLOR2[8];
    char FRAMESET2[8];
    char BACKPIC3[252];
    char FONTCOLOR3[8];
    char FRAMESET3[8];
};
