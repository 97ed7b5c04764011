#include "Table.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "BenchSupport.h"

namespace players {

namespace {

constexpr int kLabelWidth = 30;
constexpr int kCellWidth = 26;

std::string number(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string cellText(const Cell& cell, int decimals) {
    if (cell.values.empty()) {
        return cell.runs == 0 ? "-" : "failed";
    }
    std::string text = number(bench::percentile(cell.values, 0.5), decimals) + " [" +
                       number(bench::percentile(cell.values, 0.0), decimals) + ".." +
                       number(bench::percentile(cell.values, 1.0), decimals) + "]";
    if (static_cast<int>(cell.values.size()) < cell.runs) {
        text += " " + std::to_string(cell.values.size()) + "/" + std::to_string(cell.runs) + " ok";
    }
    return text;
}

}  // namespace

Table::Table(std::string title, std::vector<std::string> columns)
    : m_title(std::move(title)), m_columns(std::move(columns)) {}

void Table::addRow(std::string label, int decimals, std::vector<Cell> cells) {
    m_rows.push_back({std::move(label), decimals, std::move(cells)});
}

void Table::print() const {
    std::printf("\n%s\n%-*s", m_title.c_str(), kLabelWidth, "");
    for (const std::string& column : m_columns) {
        std::printf("%-*s", kCellWidth, column.c_str());
    }
    std::printf("\n");
    std::vector<std::string> failures;
    for (const auto& [label, decimals, cells] : m_rows) {
        std::printf("%-*s", kLabelWidth, label.c_str());
        for (std::size_t i = 0; i < cells.size(); ++i) {
            std::printf("%-*s", kCellWidth, cellText(cells[i], decimals).c_str());
            if (!cells[i].failure.empty() && i < m_columns.size()) {
                failures.push_back("  " + m_columns[i] + ", " + label + ": " + cells[i].failure);
            }
        }
        std::printf("\n");
    }
    for (const std::string& failure : failures) {
        std::printf("%s\n", failure.c_str());
    }
    std::fflush(stdout);
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

}  // namespace players
