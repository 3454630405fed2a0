package com.velkor.brumlet;

// The runtime's own compiler behind the launcher's main class: a tool of a
// few thousand classes that all come from the runtime, not from jars.
public class Brumlet {
    public static void main(String[] args) {
        System.exit(javax.tools.ToolProvider.getSystemJavaCompiler().run(null, null, null, args));
    }
}
