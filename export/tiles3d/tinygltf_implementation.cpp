// The glTF library's code, compiled once here, without its image codecs and without opening
// the files images name (the target's definitions, which every file that includes its header
// must share).
#define TINYGLTF_IMPLEMENTATION
#include <tiny_gltf.h>
