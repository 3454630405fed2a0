package com.velkor.brumlet;

// A real tool of a few thousand classes behind the launcher's main class:
// Debian's checkstyle, run as its own command-line entry would run it.
public class Brumlet {
    public static void main(String[] args) throws Exception {
        com.puppycrawl.tools.checkstyle.Main.main(args);
    }
}
