// The program's button, lamp and icon images, drawn by tools/draw_bitmaps.py.
#pragma once

static const char* const bitmap136_play[] = {
"22 13 2 1",
". c #FFFFFF",
"G c #00A000",
"......................",
".......G..............",
".......GG.............",
".......GGGG...........",
".......GGGGG..........",
".......GGGGGGG........",
".......GGGGGGGGG......",
".......GGGGGGG........",
".......GGGGG..........",
".......GGGG...........",
".......GG.............",
".......G..............",
"......................"
};

static const char* const bitmap138_pause[] = {
"22 13 2 1",
". c #FFFFFF",
"k c #000000",
"......................",
"......................",
".......kkk..kkk.......",
".......kkk..kkk.......",
".......kkk..kkk.......",
".......kkk..kkk.......",
".......kkk..kkk.......",
".......kkk..kkk.......",
".......kkk..kkk.......",
".......kkk..kkk.......",
".......kkk..kkk.......",
"......................",
"......................"
};

static const char* const bitmap140_continue[] = {
"22 13 3 1",
". c #FFFFFF",
"G c #00A000",
"k c #000000",
"......................",
".................GG...",
".......kkk..kkkGG.....",
".......kkk..kkGG......",
".......kkk..kGG.......",
".......kkk..GGk.......",
".......kkk.GGkk.......",
".......kkGG.kkk.......",
".......kGG..kkk.......",
".......GGk..kkk.......",
"......GGkk..kkk.......",
".....GG...............",
"......................"
};

static const char* const bitmap141_stop[] = {
"22 13 2 1",
". c #FFFFFF",
"k c #000000",
"......................",
"......................",
".......kkkkkkkkk......",
".......kkkkkkkkk......",
".......kkkkkkkkk......",
".......kkkkkkkkk......",
".......kkkkkkkkk......",
".......kkkkkkkkk......",
".......kkkkkkkkk......",
".......kkkkkkkkk......",
".......kkkkkkkkk......",
"......................",
"......................"
};

static const char* const bitmap143_record[] = {
"22 13 2 1",
". c #FFFFFF",
"R c #800000",
"......................",
"......................",
".........RRRR.........",
".......RRRRRRRR.......",
".......RRRRRRRR.......",
"......RRRRRRRRRR......",
"......RRRRRRRRRR......",
"......RRRRRRRRRR......",
".......RRRRRRRR.......",
".......RRRRRRRR.......",
".........RRRR.........",
"......................",
"......................"
};

static const char* const bitmap147_to_start[] = {
"22 13 2 1",
". c #FFFFFF",
"k c #000000",
"......................",
"......................",
"....kk.....k....k.....",
"....kk....kk...kk.....",
"....kk...kkk..kkk.....",
"....kk..kkkk.kkkk.....",
"....kkkkkkkkkkkkk.....",
"....kk..kkkk.kkkk.....",
"....kk...kkk..kkk.....",
"....kk....kk...kk.....",
"....kk.....k....k.....",
"......................",
"......................"
};

static const char* const bitmap151_pause_lamp_off[] = {
"22 13 2 1",
"d c #808080",
"g c #C0C0C0",
"gggggggggggggggggggggg",
"gggggggggggggggggggggg",
"gggggggdddggdddggggggg",
"gggggggdddggdddggggggg",
"gggggggdddggdddggggggg",
"gggggggdddggdddggggggg",
"gggggggdddggdddggggggg",
"gggggggdddggdddggggggg",
"gggggggdddggdddggggggg",
"gggggggdddggdddggggggg",
"gggggggdddggdddggggggg",
"gggggggggggggggggggggg",
"gggggggggggggggggggggg"
};

static const char* const bitmap152_playing_lamp_off[] = {
"22 13 2 1",
"d c #808080",
"g c #C0C0C0",
"gggggggggggggggggggggg",
"gggggggdgggggggggggggg",
"gggggggddggggggggggggg",
"gggggggddddggggggggggg",
"gggggggdddddgggggggggg",
"gggggggdddddddgggggggg",
"gggggggdddddddddgggggg",
"gggggggdddddddgggggggg",
"gggggggdddddgggggggggg",
"gggggggddddggggggggggg",
"gggggggddggggggggggggg",
"gggggggdgggggggggggggg",
"gggggggggggggggggggggg"
};

static const char* const bitmap153_recording_lamp_off[] = {
"22 13 2 1",
"d c #808080",
"g c #C0C0C0",
"gggggggggggggggggggggg",
"gggggggggggggggggggggg",
"gggggggggddddggggggggg",
"gggggggddddddddggggggg",
"gggggggddddddddggggggg",
"ggggggddddddddddgggggg",
"ggggggddddddddddgggggg",
"ggggggddddddddddgggggg",
"gggggggddddddddggggggg",
"gggggggddddddddggggggg",
"gggggggggddddggggggggg",
"gggggggggggggggggggggg",
"gggggggggggggggggggggg"
};

static const char* const icon128[] = {
"32 32 6 1",
"B c #4060C0",
"R c #800000",
"b c #000080",
"k c #000000",
"r c #C00000",
"y c #FFFF80",
"kkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkk",
"kyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyk",
"kyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyk",
"kyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyk",
"kyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyk",
"kyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyk",
"kyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyk",
"kyyyyyyyyyyBbByyyyyyyyyyyyyyyyyk",
"kyyyyyyyyyybBbyyyyyyyyyyyyyyyyyk",
"kyyyyyyyyybBBBbyyyyyyyyyyBByyyyk",
"kyyyyyyyyyBBBBByyyyyyyyybbbByyyk",
"kyyyyyyyyyBBBBBByyyyyyyBBBBbByyk",
"kyyyyyyyybBBBBBbyyyyyyybBBBBbByk",
"kybBBBBBBBBBBBBBBBBBBBbBBBBBBbyk",
"kyyBBBBBByyyyyyybBBBBByyyyyyyyyk",
"kyyBBBBBbyyyyyyyyBBBBbyyyyyyyyyk",
"kyyBBBBByyyyyyyyybBBByyyyyyyyyyk",
"kyybBBBByyyyyyyyyybBbyyyyyyyyyyk",
"kyyyBBBbyyyyyyyyyyybyyyyyyyyyyyk",
"kyyybBByyyyyyyyyyyyyyyyyyyyyyyyk",
"kyyyybbyyyyyyyyyyyyyyyRRRRyyyyyk",
"kyyyyyyyyyyyyyyyyyyyRRRrrRRRyyyk",
"kyyyyyyyyyyyyyyyyyyyRrrrrrrRyyyk",
"kyyyyyyyyyyyyyyyyyyRRrrrrrrRRyyk",
"kyyyyyyyyyyyyyyyyyyRrrrrrrrrRyyk",
"kyyyyyyyyyyyyyyyyyyRrrrrrrrrRyyk",
"kyyyyyyyyyyyyyyyyyyRRrrrrrrRRyyk",
"kyyyyyyyyyyyyyyyyyyyRrrrrrrRyyyk",
"kyyyyyyyyyyyyyyyyyyyRRRrrRRRyyyk",
"kyyyyyyyyyyyyyyyyyyyyyRRRRyyyyyk",
"kyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyk",
"kkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkk"
};

