// Dictionary-like sample lines shared by the benchmarks.
#pragma once

namespace bench {

/// About a quarter of the lines have no bracketed reading, as in a real
/// dictionary; EUC-JP text, LF-free.
inline const char* const SampleLines[] = {
    "\xce\xfd\xbd\xac"
    " ["
    "\xa4\xec\xa4\xf3\xa4\xb7\xa4\xe5\xa4\xa6"
    "] /(n,vs) practice/training/drill/exercise/(P)/",
    "\xa5\xd2\xa5\xf3\xa5\xc8"
    " /(n) hint/clue/tip/",
    "\xc5\xec\xb5\xfe"
    " ["
    "\xa4\xc8\xa4\xa6\xa4\xad\xa4\xe7\xa4\xa6"
    "] /(n) Tokyo (capital of Japan)/(P)/",
    "\xb4\xc1\xbb\xfa"
    " ["
    "\xa4\xab\xa4\xf3\xa4\xb8"
    "] /(n) kanji/Chinese characters/characters used in writing/(P)/",
    "\xa4\xa2\xa4\xea\xa4\xac\xa4\xc8\xa4\xa6"
    " /(int) thank you/thanks/(P)/",
    "\xa1\xb7"
    " ["
    "\xa4\xaa\xa4\xca\xa4\xb8"
    "] /(n) ditto mark/repetition of the line above/",
    "\xbf\xb7\xca\xb9"
    " ["
    "\xa4\xb7\xa4\xf3\xa4\xd6\xa4\xf3"
    "] /(n) newspaper/(P)/",
    "\xa5\xb3\xa5\xf3\xa5\xd4\xa5\xe5\xa1\xbc\xa5\xbf"
    " /(n) computer/(P)/",
};

}  // namespace bench
