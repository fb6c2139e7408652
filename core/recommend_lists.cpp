// The recommendation tables: which categories and recommended entries the
// catalogue offers for the machine, and which boot environment it uses.
#include "core/catalogue.h"
#include "core/fixed_texts.h"
#include "core/tarvel_app.h"

CString CTarvelApp::BuildRecommendLists(const CString& systemKind, ULONGLONG memoryBytes, BOOL systemDiskFlag) {
    m_osCategories.RemoveAll();
    m_recommendList1.RemoveAll();
    m_recommendList2.RemoveAll();
    m_selectedPeIndex = 2;

    enum { kTableA, kTableB, kTableC, kTableD };
    int table = kTableD;
    if (systemDiskFlag) {
        table = kTableA;
    } else {
        double mib = (double)memoryBytes * (1.0 / 1024) * (1.0 / 1024);
        if (!(mib > FixedText::kRecommendLowMemoryMiB)) {
            table = kTableC;
        } else {
            for (const wchar_t* kind : FixedText::kRecommendKindTexts)
                if (systemKind == kind) table = kTableB;
        }
    }

    const FixedText::RecommendTable& rows = FixedText::kRecommendTables[table];
    for (int i = 0; i < rows.categoryCount; ++i)
        m_osCategories.Add(COsCatInfo(rows.categories[i].text, rows.categories[i].group));
    for (int i = 0; i < rows.list1Count; ++i)
        m_recommendList1.Add(COnlinefileinfo(rows.list1[i].text, rows.list1[i].group));
    for (int i = 0; i < rows.list2Count; ++i)
        m_recommendList2.Add(COnlinefileinfo(rows.list2[i].text, rows.list2[i].group));
    if (table == kTableC) m_selectedPeIndex = 0;
    return rows.hint;
}
