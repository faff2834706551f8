#include "host_testing.h"

#include <cstring>
#include <sstream>

namespace testing_support {

orrim::ArrayPtr realArray(const std::vector<uint64_t> &dimensions, const std::vector<double> &values) {
  return orrim::createReal(dimensions, values);
}

orrim::ArrayPtr scalar(double value) { return orrim::createReal({1, 1}, {value}); }

orrim::ArrayPtr cellColumn(std::vector<orrim::ArrayPtr> elements) {
  orrim::ArrayPtr cell = orrim::createCell({elements.size(), 1});
  for (size_t t = 0; t < elements.size(); ++t) {
    orrim::setCellElement(cell.get(), t, std::move(elements[t]));
  }
  return cell;
}

std::vector<const OrrimArray *> handles(const std::vector<orrim::ArrayPtr> &arrays) {
  std::vector<const OrrimArray *> result;
  for (const orrim::ArrayPtr &array : arrays) {
    result.push_back(array.get());
  }
  return result;
}

std::vector<double> valuesOf(const OrrimArray *array) {
  const double *data = orrimRealData(array);
  return std::vector<double>(data, data + orrim::elementCount(array));
}

orrim::CallResult callChecked(const orrim::Module &module, const std::vector<const OrrimArray *> &inputs,
                              int32_t outputCount) {
  const orrim::Counters before = orrim::counters();
  orrim::CallResult result = module.call(outputCount, inputs);
  const orrim::Counters after = orrim::counters();
  EXPECT_EQ(after.blocksLive, before.blocksLive) << "blocks left after the call";
  EXPECT_EQ(after.bytesLive, before.bytesLive);
  uint64_t outputs = 0;
  for (const orrim::ArrayPtr &output : result.outputs) {
    outputs += output != nullptr ? 1 : 0;
  }
  EXPECT_EQ(after.arraysLive, before.arraysLive + outputs) << "arrays left after the call";
  if (!result.failed) {
    EXPECT_EQ(after.blocksReclaimed, before.blocksReclaimed) << "the module did not free every block it took";
  }
  return result;
}

std::string expectError(const orrim::Module &module, const std::vector<const OrrimArray *> &inputs,
                        const std::string &identifier) {
  const orrim::CallResult result = callChecked(module, inputs);
  EXPECT_TRUE(result.failed) << "expected " << identifier;
  EXPECT_EQ(result.identifier, identifier) << result.message;
  EXPECT_TRUE(result.outputs.empty());
  EXPECT_EQ(result.message.find('\n'), std::string::npos) << "a one-line message";
  return result.message;
}

void expectInputCountRefused(const orrim::Module &module, const GatewayDescription &gateway,
                             const std::vector<const OrrimArray *> &validInputs) {
  std::vector<const OrrimArray *> fewer = validInputs;
  fewer.pop_back();
  std::vector<const OrrimArray *> more = validInputs;
  more.push_back(validInputs.front());
  for (const auto &list : {fewer, more, std::vector<const OrrimArray *>{}}) {
    EXPECT_EQ(expectError(module, list, std::string(gateway.errorPrefix) + "NotEnoughInputs"), gateway.countMessage)
        << list.size() << " inputs";
  }
}

::testing::AssertionResult bitIdentical(const std::vector<double> &expected, const std::vector<double> &actual) {
  if (expected.size() != actual.size()) {
    return ::testing::AssertionFailure() << "sizes differ: " << expected.size() << " vs " << actual.size();
  }
  for (size_t i = 0; i < expected.size(); ++i) {
    const bool bothNaN = expected[i] != expected[i] && actual[i] != actual[i];
    if (!bothNaN && std::memcmp(&expected[i], &actual[i], sizeof(double)) != 0) {
      std::ostringstream text;
      text.precision(17);
      text << "element " << i << " differs: expected " << expected[i] << ", got " << actual[i];
      return ::testing::AssertionFailure() << text.str();
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace testing_support
