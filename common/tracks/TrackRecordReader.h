#pragma once
// Reads the records of an open track file one after another. Every point count is checked
// against the bytes left in the file before anything is sized from it: a damaged count ends the
// reading with a reason instead of becoming an allocation of many gigabytes.

#include <cstdint>
#include <string>
#include <vector>

#include "CTrackReader.h"

class TrackRecordReader {
  public:
    enum class Outcome {
        kRecord,   // a whole record was read
        kEnd,      // the file ends right after the previous record
        kDamaged,  // the record is cut short or its point count cannot be right: GetFailure()
    };

    // reader is open at a record boundary and outlives this object.
    explicit TrackRecordReader(CTrackReader& reader);

    Outcome ReadNext();
    // As ReadNext, with the record's values (properties included) read straight into `into`
    // from index at on (it then ends with them; it is left as it was when no record is read),
    // instead of this reader's own buffer.
    Outcome ReadNextInto(std::vector<float>& into, std::size_t at = 0);

    // The record of the last kRecord: its point count and, in file order, x, y, z and the
    // point's scalars for every point, then the record's properties.
    int GetPointCount() const { return m_pointCount; }
    int GetValuesPerPoint() const { return m_valuesPerPoint; }
    const float* GetValues() const { return m_values.data(); }
    const float* GetPoint(int i) const;
    const float* GetProperties() const;

    // Records read whole so far; the 1-based index of a damaged record is this plus one.
    int GetRecordCount() const { return m_recordCount; }
    // Why the last ReadNext gave kDamaged, e.g. "its point count -1 is negative".
    const std::string& GetFailure() const { return m_failure; }

  private:
    Outcome Fail(std::string why);

    CTrackReader& m_reader;
    int m_valuesPerPoint = 3;
    int m_propertyCount = 0;
    int m_pointCount = 0;
    int m_recordCount = 0;
    // Reused from record to record: memory follows the largest record, not the file.
    std::vector<float> m_values;
    std::string m_failure;
};
