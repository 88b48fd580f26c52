#pragma once

// Thumbnails as Windows.Storage.Streams objects, and the DataReader that
// Wine 8 does not have.

#include <memory>
#include <vector>

#include "winrt_server/com_object.hpp"

namespace olvex::test_server {

// A reference whose OpenReadAsync gives a stream over `bytes`.
Ref<abi::IRandomAccessStreamReference> make_stream_reference(std::shared_ptr<const std::vector<BYTE>> bytes);

// The activation factory of Windows.Storage.Streams.DataReader
// (IActivationFactory, IDataReaderFactory, IDataReaderStatics).
Ref<abi::IActivationFactory> make_data_reader_factory();

}  // namespace olvex::test_server
