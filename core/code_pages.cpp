#include "core/code_pages.h"

#include <cmath>

namespace {

// Generated from the code page definitions; the bytes a code page leaves undefined (98 in
// Windows-1251; 81, 8D, 8F, 90 and 9D in Windows-1252) keep their own value.
constexpr char16_t kWindows1251[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};
constexpr char16_t kKoi8R[128] = {
    0x2500, 0x2502, 0x250C, 0x2510, 0x2514, 0x2518, 0x251C, 0x2524, 0x252C, 0x2534, 0x253C, 0x2580,
    0x2584, 0x2588, 0x258C, 0x2590, 0x2591, 0x2592, 0x2593, 0x2320, 0x25A0, 0x2219, 0x221A, 0x2248,
    0x2264, 0x2265, 0x00A0, 0x2321, 0x00B0, 0x00B2, 0x00B7, 0x00F7, 0x2550, 0x2551, 0x2552, 0x0451,
    0x2553, 0x2554, 0x2555, 0x2556, 0x2557, 0x2558, 0x2559, 0x255A, 0x255B, 0x255C, 0x255D, 0x255E,
    0x255F, 0x2560, 0x2561, 0x0401, 0x2562, 0x2563, 0x2564, 0x2565, 0x2566, 0x2567, 0x2568, 0x2569,
    0x256A, 0x256B, 0x256C, 0x00A9, 0x044E, 0x0430, 0x0431, 0x0446, 0x0434, 0x0435, 0x0444, 0x0433,
    0x0445, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x044F, 0x0440, 0x0441,
    0x0442, 0x0443, 0x0436, 0x0432, 0x044C, 0x044B, 0x0437, 0x0448, 0x044D, 0x0449, 0x0447, 0x044A,
    0x042E, 0x0410, 0x0411, 0x0426, 0x0414, 0x0415, 0x0424, 0x0413, 0x0425, 0x0418, 0x0419, 0x041A,
    0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x042F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0416, 0x0412,
    0x042C, 0x042B, 0x0417, 0x0428, 0x042D, 0x0429, 0x0427, 0x042A,
};
constexpr char16_t kCp866[128] = {
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B,
    0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433,
    0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B,
    0x044C, 0x044D, 0x044E, 0x044F, 0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0,
};
constexpr char16_t kWindows1252[128] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039,
    0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, 0x00A0, 0x00A1, 0x00A2, 0x00A3,
    0x00A4, 0x00A5, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x00BA, 0x00BB,
    0x00BC, 0x00BD, 0x00BE, 0x00BF, 0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF, 0x00D0, 0x00D1, 0x00D2, 0x00D3,
    0x00D4, 0x00D5, 0x00D6, 0x00D7, 0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB,
    0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,
};

// Latin-1: each byte is the character of its value.
constexpr char16_t kLatin1[128] = {
#define L8(b) b, b + 1, b + 2, b + 3, b + 4, b + 5, b + 6, b + 7
    L8(0x80), L8(0x88), L8(0x90), L8(0x98), L8(0xA0), L8(0xA8), L8(0xB0), L8(0xB8),
    L8(0xC0), L8(0xC8), L8(0xD0), L8(0xD8), L8(0xE0), L8(0xE8), L8(0xF0), L8(0xF8),
#undef L8
};

// How likely a Russian letter is to follow another, or to start or end a word: the natural
// logarithm times 8, from the word list of a Russian spelling dictionary
// (scripts/make_russian_bigrams.py). Index 32 is the edge of a word; ё counts as е.
constexpr int8_t kRussianPairs[33][33] = {
    {-63, -32, -17, -32, -28, -30, -33, -25, -40, -41, -28, -23, -29, -17, -56, -31, -23,
     -23, -15, -45, -39, -37, -36, -33, -37, -40, -99, -99, -99, -55, -24, -47, -19},
    {-17, -49, -37, -46, -40, -14, -42, -49, -18, -85, -37, -19, -35, -29, -15, -65, -16,
     -32, -41, -22, -73, -48, -45, -49, -44, -38, -39, -30, -38, -62, -46, -43, -37},
    {-10, -58, -50, -56, -45, -20, -63, -37, -23, -96, -35, -30, -48, -31, -18, -44, -37,
     -34, -40, -37, -76, -65, -50, -52, -13, -46, -64, -19, -47, -83, -68, -39, -32},
    {-14, -61, -42, -52, -49, -22, -65, -69, -16, -84, -44, -20, -42, -23, -13, -67, -14,
     -41, -50, -25, -76, -84, -63, -43, -38, -84, -84, -76, -84, -59, -67, -84, -27},
    {-19, -43, -27, -41, -43, -14, -39, -43, -16, -89, -32, -34, -38, -22, -14, -37, -23,
     -28, -40, -24, -67, -51, -39, -38, -42, -65, -43, -29, -42, -65, -48, -36, -29},
    {-47, -34, -23, -32, -26, -42, -34, -29, -42, -33, -27, -21, -21, -16, -36, -29, -16,
     -21, -20, -45, -44, -37, -37, -32, -33, -42, -98, -98, -98, -63, -50, -48, -20},
    {-15, -48, -59, -38, -21, -11, -32, -58, -10, -80, -32, -49, -29, -20, -30, -55, -43,
     -44, -64, -30, -64, -80, -52, -62, -71, -80, -64, -80, -39, -64, -71, -80, -31},
    {-9,  -31, -23, -30, -24, -26, -37, -46, -20, -87, -39, -30, -24, -21, -19, -68, -29,
     -54, -48, -28, -79, -87, -54, -48, -44, -87, -39, -28, -44, -68, -53, -40, -31},
    {-39, -39, -17, -36, -33, -23, -43, -27, -56, -11, -25, -30, -31, -23, -32, -36, -22,
     -24, -20, -52, -41, -41, -32, -27, -45, -45, -99, -99, -99, -66, -64, -30, -35},
    {-77, -60, -66, -67, -49, -61, -85, -63, -79, -94, -41, -57, -45, -38, -54, -64, -57,
     -16, -50, -85, -63, -67, -55, -55, -40, -58, -94, -94, -94, -94, -85, -72, -2},
    {-11, -67, -36, -63, -66, -34, -83, -50, -15, -92, -44, -24, -60, -35, -13, -71, -20,
     -30, -26, -24, -72, -67, -41, -64, -42, -92, -92, -68, -69, -83, -60, -92, -18},
    {-17, -48, -54, -46, -48, -13, -47, -47, -14, -92, -32, -32, -52, -39, -16, -58, -77,
     -47, -42, -27, -63, -60, -68, -44, -67, -65, -92, -30, -15, -73, -30, -22, -33},
    {-15, -35, -55, -58, -70, -14, -76, -57, -18, -89, -39, -32, -35, -26, -16, -31, -44,
     -34, -56, -26, -49, -61, -51, -48, -59, -51, -89, -17, -51, -64, -59, -34, -18},
    {-19, -62, -52, -39, -34, -20, -53, -48, -15, -97, -34, -71, -74, -17, -18, -65, -60,
     -32, -27, -27, -48, -56, -36, -41, -58, -53, -66, -12, -36, -67, -52, -32, -28},
    {-51, -23, -16, -27, -21, -38, -33, -30, -38, -34, -26, -21, -26, -23, -38, -25, -20,
     -18, -21, -43, -39, -37, -44, -28, -37, -43, -99, -99, -99, -51, -58, -45, -32},
    {-20, -79, -76, -92, -70, -15, -92, -79, -23, -92, -47, -22, -74, -38, -10, -44, -11,
     -40, -36, -29, -61, -69, -55, -46, -58, -57, -92, -34, -43, -76, -68, -38, -42},
    {-13, -42, -41, -36, -39, -14, -41, -44, -16, -97, -35, -46, -34, -28, -13, -44, -47,
     -33, -31, -23, -48, -44, -47, -42, -41, -50, -81, -31, -43, -69, -48, -30, -30},
    {-28, -44, -32, -48, -48, -27, -55, -72, -26, -96, -18, -28, -34, -31, -23, -25, -43,
     -30, -11, -32, -45, -43, -42, -40, -43, -64, -51, -33, -35, -70, -56, -12, -36},
    {-21, -48, -26, -49, -48, -18, -62, -60, -19, -97, -33, -40, -45, -28, -19, -44, -20,
     -27, -44, -30, -60, -57, -54, -43, -51, -58, -58, -26, -10, -69, -50, -39, -23},
    {-38, -25, -24, -28, -24, -28, -27, -31, -42, -44, -26, -22, -25, -27, -48, -24, -21,
     -21, -17, -56, -45, -29, -45, -24, -25, -33, -88, -88, -88, -50, -23, -49, -29},
    {-17, -56, -67, -52, -63, -17, -76, -67, -10, -76, -67, -25, -39, -38, -12, -67, -21,
     -40, -28, -26, -32, -76, -76, -60, -56, -67, -76, -42, -48, -60, -50, -50, -27},
    {-14, -49, -23, -41, -45, -32, -57, -45, -18, -78, -38, -18, -29, -22, -12, -40, -21,
     -31, -29, -30, -60, -51, -53, -40, -39, -69, -49, -78, -65, -48, -78, -78, -27},
    {-14, -59, -31, -63, -63, -9,  -79, -57, -9,  -79, -34, -55, -52, -53, -26, -52, -63,
     -54, -57, -40, -79, -70, -54, -79, -57, -79, -79, -38, -79, -70, -66, -79, -19},
    {-16, -75, -52, -84, -75, -9,  -59, -84, -12, -84, -25, -41, -50, -15, -34, -71, -48,
     -62, -35, -26, -84, -65, -71, -64, -55, -84, -84, -84, -33, -75, -84, -84, -33},
    {-24, -70, -43, -88, -88, -21, -88, -88, -2,  -88, -30, -32, -48, -33, -40, -40, -58,
     -63, -34, -37, -79, -63, -68, -75, -88, -88, -88, -88, -26, -79, -54, -88, -44},
    {-23, -82, -60, -82, -82, -17, -82, -82, -2,  -82, -82, -82, -73, -41, -51, -82, -46,
     -82, -82, -31, -82, -82, -82, -82, -82, -82, -82, -82, -59, -82, -82, -82, -51},
    {-59, -59, -59, -59, -59, -3,  -59, -59, -59, -59, -59, -59, -59, -59, -59, -59, -59,
     -59, -59, -59, -59, -59, -59, -59, -59, -59, -59, -59, -59, -59, -27, -12, -59},
    {-91, -39, -16, -38, -39, -39, -44, -36, -60, -4,  -32, -34, -37, -40, -91, -32, -31,
     -29, -33, -60, -91, -38, -57, -39, -34, -48, -91, -91, -91, -91, -91, -58, -35},
    {-90, -49, -46, -50, -46, -26, -67, -46, -50, -90, -33, -81, -38, -18, -51, -52, -90,
     -13, -36, -90, -47, -64, -41, -43, -46, -40, -90, -90, -90, -74, -39, -37, -5},
    {-67, -42, -27, -33, -32, -67, -54, -41, -67, -39, -12, -13, -23, -20, -42, -24, -19,
     -23, -19, -48, -29, -39, -54, -67, -41, -67, -67, -67, -67, -58, -67, -54, -43},
    {-53, -30, -46, -44, -33, -55, -40, -39, -51, -47, -35, -39, -36, -34, -52, -49, -31,
     -33, -20, -80, -55, -38, -43, -31, -39, -3,  -80, -80, -80, -59, -50, -72, -30},
    {-89, -45, -25, -34, -32, -34, -35, -32, -61, -48, -37, -43, -43, -27, -76, -45, -36,
     -34, -21, -57, -73, -43, -43, -37, -53, -29, -89, -89, -89, -89, -29, -71, -4},
    {-28, -26, -20, -29, -26, -46, -41, -23, -29, -65,  -24,  -32,  -27, -23, -20, -13, -23,
     -20, -28, -28, -34, -37, -43, -37, -36, -51, -101, -101, -101, -37, -54, -48, -127},
};

constexpr int kWordEdge = 32;
constexpr double kOtherCyrillic = .001;  // Ukrainian, Belarusian and Serbian letters
constexpr double kPunctuation = .0015;   // quotes, dashes, №, the no-break space and the like
constexpr double kUnlikely = .000001;    // box drawing, control characters, rare symbols
constexpr double kMixedScript = .02;     // a Russian letter next to a Latin one
constexpr double kAmongAccents = .05;
// A capital after a small letter in one word: the case of the letters read in the wrong code page
// of a list in mixed case.
constexpr double kCapitalAfterSmall = .05;  // an accented letter with no plain letter beside it

enum class Kind : uint8_t { Other, Russian, Cyrillic, Western, Punctuation };

struct Weighed {
  Kind kind;
  double log_weight;  // for the kinds other than Russian, which are judged by pairs
  int letter = 0;     // Russian: а to я as 0 to 31, ё as е
  bool upper = false;
};

// Accented letters of Western languages, lower case, with how often they stand in text.
double WesternFrequency(char16_t c) {
  switch (c) {
    case u'é':
      return .008;
    case u'ä':
    case u'ü':
      return .003;
    case u'è':
    case u'à':
    case u'á':
    case u'ö':
    case u'ß':
      return .002;
    case u'ê':
    case u'å':
    case u'í':
    case u'ñ':
    case u'ó':
      return .001;
    case u'ç':
      return .0008;
    case u'â':
    case u'ã':
    case u'ø':
    case u'ú':
    case u'š':
      return .0005;
    case u'ë':
    case u'æ':
    case u'î':
    case u'ô':
    case u'ž':
      return .0003;
    case u'ì':
    case u'ï':
    case u'ò':
    case u'õ':
    case u'ù':
    case u'û':
    case u'ý':
    case u'ð':
    case u'œ':
      return .0002;
    case u'ÿ':
    case u'þ':
      return .0001;
    default:
      return 0;
  }
}

char16_t WesternLower(char16_t c) {
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  switch (c) {
    case 0x0160:
      return 0x0161;
    case 0x0152:
      return 0x0153;
    case 0x017D:
      return 0x017E;
    case 0x0178:
      return 0x00FF;
    default:
      return c;
  }
}

bool IsPunctuation(char16_t c) {
  switch (c) {
    case 0x00A0:
    case 0x00AB:
    case 0x00BB:
    case 0x2013:
    case 0x2014:
    case 0x2026:
    case 0x201C:
    case 0x201D:
    case 0x201E:
    case 0x2018:
    case 0x2019:
    case 0x201A:
    case 0x2116:
    case 0x00B0:
    case 0x00A7:
    case 0x00A9:
    case 0x00AE:
    case 0x2122:
    case 0x20AC:
    case 0x00B7:
    case 0x2022:
    case 0x00B1:
      return true;
    default:
      return false;
  }
}

Weighed Weigh(char16_t c) {
  if (c >= 0x0410 && c <= 0x044F)
    return {Kind::Russian, 0, c >= 0x0430 ? c - 0x0430 : c - 0x0410, c < 0x0430};
  if (c == 0x0401 || c == 0x0451) return {Kind::Russian, 0, 5, c == 0x0401};
  if ((c >= 0x0400 && c <= 0x045F) || c == 0x0490 || c == 0x0491)
    return {Kind::Cyrillic, std::log(kOtherCyrillic)};
  if (const double f = WesternFrequency(WesternLower(c)); f > 0)
    return {Kind::Western, std::log(f)};
  if (IsPunctuation(c)) return {Kind::Punctuation, std::log(kPunctuation)};
  return {Kind::Other, std::log(kUnlikely)};
}

constexpr CodePage kJudged[] = {CodePage::Windows1251, CodePage::Koi8R, CodePage::Cp866,
                                CodePage::Windows1252};

// The weight of every byte above 7F in every candidate, worked out once.
struct WeightTable {
  Weighed of[4][128];
  WeightTable() {
    for (int page = 0; page < 4; ++page)
      for (int b = 0; b < 128; ++b) of[page][b] = Weigh(CodePageHighHalf(kJudged[page])[b]);
  }
};

const WeightTable& Weights() {
  static const WeightTable table;
  return table;
}

bool IsAsciiLetter(unsigned char b) {
  return (b | 0x20) >= 'a' && (b | 0x20) <= 'z';
}

}  // namespace

const char16_t* CodePageHighHalf(CodePage page) {
  switch (page) {
    case CodePage::Windows1251:
      return kWindows1251;
    case CodePage::Koi8R:
      return kKoi8R;
    case CodePage::Cp866:
      return kCp866;
    case CodePage::Windows1252:
      return kWindows1252;
    case CodePage::Latin1:
      break;
  }
  return kLatin1;
}

const char* CodePageName(CodePage page) {
  switch (page) {
    case CodePage::Windows1251:
      return "Windows-1251";
    case CodePage::Koi8R:
      return "KOI8-R";
    case CodePage::Cp866:
      return "CP866";
    case CodePage::Windows1252:
      return "Windows-1252";
    case CodePage::Latin1:
      break;
  }
  return "Latin-1";
}

void CodePageJudge::Add(const CodePageJudge& other) {
  for (int page = 0; page < kCandidates; ++page) score_[page] += other.score_[page];
  high_bytes_ += other.high_bytes_;
}

void CodePageJudge::AddLine(const unsigned char* b, size_t n) {
  const WeightTable& weights = Weights();
  for (size_t i = 0; i < n; ++i) high_bytes_ += b[i] >= 0x80;
  for (int page = 0; page < kCandidates; ++page) {
    const Weighed(&of)[128] = weights.of[page];
    double score = 0;
    int previous = kWordEdge;  // the Russian letter before, or the edge of a word
    bool previous_upper = false;
    auto end_word = [&] {
      if (previous != kWordEdge) score += kRussianPairs[previous][kWordEdge] / 8.0;
      previous = kWordEdge;
    };
    for (size_t i = 0; i < n; ++i) {
      if (b[i] < 0x80) {
        end_word();
        continue;
      }
      const Weighed& w = of[b[i] - 0x80];
      const bool latin_beside =
          (i > 0 && IsAsciiLetter(b[i - 1])) || (i + 1 < n && IsAsciiLetter(b[i + 1]));
      if (w.kind == Kind::Russian) {
        score += kRussianPairs[previous][w.letter] / 8.0;
        if (w.upper && previous != kWordEdge && !previous_upper)
          score += std::log(kCapitalAfterSmall);
        previous = w.letter;
        previous_upper = w.upper;
        if (latin_beside) score += std::log(kMixedScript);
        continue;
      }
      end_word();
      score += w.log_weight;
      if (w.kind == Kind::Cyrillic && latin_beside) {
        score += std::log(kMixedScript);
      } else if (w.kind == Kind::Western && !latin_beside) {
        auto accented = [&](size_t k) {
          return b[k] >= 0x80 && of[b[k] - 0x80].kind == Kind::Western;
        };
        if ((i > 0 && accented(i - 1)) || (i + 1 < n && accented(i + 1)))
          score += std::log(kAmongAccents);
      }
    }
    end_word();
    score_[page] += score;
  }
}

CodePage CodePageJudge::Best() const {
  // Another page must win clearly: a list that looks much the same in two of them is most
  // likely from a Russian Windows machine.
  constexpr double kMargin = 2.0;
  int best = 0;
  for (int page = 1; page < kCandidates; ++page)
    if (score_[page] > score_[best]) best = page;
  if (score_[best] - score_[0] < kMargin) best = 0;
  return kJudged[best];
}
