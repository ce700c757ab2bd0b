{
  "targets": [
    {
      "target_name": "QxDBAccess",
      "sources": ["<!@(node scripts/core-sources.js)"],
      "include_dirs": ["src", "src/nonwin", "src/QxDBAccess"],
      "cflags_cc!": ["-fno-exceptions", "-fno-rtti", "-std=gnu++17"],
      "cflags_cc": ["-std=c++17", "-fvisibility=hidden"],
      "ldflags": ["-Wl,--exclude-libs,ALL"]
    }
  ]
}
