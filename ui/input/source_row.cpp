#include "ui/input/source_row.h"

#include <QFontMetrics>
#include <QLabel>

#include "core/json_files.h"
#include "video_io/sourceinfo.h"

QString aliasName(const char* category, int id, const QFont& font, int width) {
    ALIAS_PARA para;
    if (get_json_alias_para(&para, category, id) != 1) return QString();
    return QFontMetrics(font).elidedText(QString::fromStdString(para.name), Qt::ElideRight, width,
                                         Qt::TextShowMnemonic);
}

void sourceRowNames(QLabel* const names[6], const uint8_t counts[6]) {
    QFont small;
    small.setPixelSize(9);
    for (int p = 0; p < sourceinfo::kSources; ++p) {
        const uint8_t s = sourceinfo::get_source_id_by_listseq(uint8_t(p));
        QString name = aliasName("source", s, small, names[p]->width() - 16);
        if (name.isEmpty()) name = sourceinfo::get_source_name_by_listseq(uint8_t(p));
        names[p]->setText(sourceinfo::get_source_specialstyle1_by_sourceid(s, name, counts[s]));
    }
}
