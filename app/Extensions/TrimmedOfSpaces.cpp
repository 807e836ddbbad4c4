#include "app/Extensions/TrimmedOfSpaces.h"

namespace quorvel {

QString trimmedOfSpaces(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ') ++begin;
    while (end > begin && text[end - 1] == u' ') --end;
    return text.mid(begin, end - begin);
}

}  // namespace quorvel
