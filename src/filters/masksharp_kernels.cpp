// The plain kernel table.
#include "filters/masksharp_kernels.h"

namespace tarvo::masksharp {
namespace {

#include "filters/masksharp_scalar.inl"

Kernels MakeScalar() {
  Kernels k{};
  k.edge8 = EdgeScalar<uint8_t>;
  k.edge16 = EdgeScalar<int16_t>;
  k.box3 = Box3Scalar;
  k.box5 = Box5Scalar;
  k.blur8[0] = BlurScalar<uint8_t, 1>;
  k.blur8[1] = BlurScalar<uint8_t, 2>;
  k.blur8[2] = BlurScalar<uint8_t, 3>;
  k.blur16[0] = BlurScalar<int16_t, 1>;
  k.blur16[1] = BlurScalar<int16_t, 2>;
  k.blur16[2] = BlurScalar<int16_t, 3>;
  k.applyMask8 = ApplyMask8Scalar;
  k.applyMask16 = ApplyMask16Scalar;
  k.showMask8 = ShowMask8Scalar;
  k.showMask16 = ShowMask16Scalar;
  k.plainSharpen8 = PlainSharpen8Scalar;
  k.plainSharpen16 = PlainSharpen16Scalar;
  k.maskSharpen8 = MaskSharpen8Scalar;
  k.maskSharpen16 = MaskSharpen16Scalar;
  k.plainEdges8 = PlainEdges8Scalar;
  k.plainEdges16 = PlainEdges16Scalar;
  k.maskEdges8 = MaskEdges8Scalar;
  k.maskEdges16 = MaskEdges16Scalar;
  return k;
}

}  // namespace

const Kernels& ScalarKernels() {
  static const Kernels k = MakeScalar();
  return k;
}

}  // namespace tarvo::masksharp
