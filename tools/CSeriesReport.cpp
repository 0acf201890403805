#include "CSeriesReport.h"

#include "CFieldSeries.h"

#include <filesystem>
#include <stdexcept>

std::string CSeriesReport::Run(const CReplayOptions& options) {
    QString problem;
    const QString path = QString::fromStdString(options.m_seriesFields);
    if (!std::filesystem::is_regular_file(options.m_seriesFields))
        throw std::runtime_error(options.m_seriesFields + ": no such fields file");
    const std::optional<CFieldDefinitions> definitions = CFieldDefinitions::Load(path, &problem);
    if (!definitions)
        throw std::runtime_error(problem.toStdString());
    const std::optional<CFieldSeries> series =
        CFieldSeries::Of(*definitions, QString::fromStdString(options.m_seriesName), &problem);
    if (!series)
        throw std::runtime_error(problem.toStdString());
    std::vector<std::filesystem::path> files;
    for (const std::string& journal : options.m_journals) {
        if (!std::filesystem::is_regular_file(journal))
            throw std::runtime_error(journal + ": no such journal file");
        files.emplace_back(journal);
    }
    CJournalIndex index(files);
    index.Update();
    const std::optional<CJournalIndex::Time> start = index.FirstTime();
    const auto moment = [&](const std::optional<CReplayOptions::Moment>& at) {
        return at && start ? std::optional(at->In(*start)) : std::nullopt;
    };
    const auto points = series->Points(index, moment(options.m_from), moment(options.m_to));
    if (!points)
        throw std::runtime_error("a journal file can no longer be read");
    return CFieldSeries::Csv(*points).toStdString();
}
