// Lets a library whose folder holds no sources yet still build.
